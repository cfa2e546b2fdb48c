#include "disk_image_builder.h"
#include "process.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string usage = "Usage: Kalmora -i=infile -o=outfile -d=(seq|txt)\n";
const std::string version = "Kalmora " KALMORA_VERSION "\n";

std::string progress(const std::string& input, const std::string& output, const std::string& kind)
{
    return "Processing " + input + " to " + output + " as " + kind + "\n\n";
}

#ifdef _WIN32
constexpr bool onWindows = true;
#else
constexpr bool onWindows = false;
#endif

// Windows refuses to open a folder as a file with "access denied".
constexpr unsigned folderError = onWindows ? 13 : 21;

// A small SEQ screen and its text form.
const std::string sampleSeq("\x93\x05\x48\x49\x0d\xc1\x00\xff", 8);
const std::string sampleText = "{CLEAR}{WHITE}hi\n{193}{0}{255}";

}  // namespace

TEST(Program, CommandLineAnswers)
{
    const struct {
        std::vector<std::string> arguments;
        std::string output;
        int status;
    } cases[] = {
        {{}, usage, 0},
        {{"-?"}, usage, 0},
        {{"/?"}, usage, 0},
        {{"--help"}, usage, 0},
        {{"--h"}, usage, 0},
        {{"--version"}, version, 0},
        {{"--v", "-d=txt"}, version, 0},
        {{"-i=a", "-?"}, usage, 0},
        {{"-i=a", "-o=b"}, usage, 0},
        {{"stray", "words"}, usage, 0},
        {{"-x", "-?"}, "Invalid argument: -x\n", 1},
        {{"-d"}, "Invalid argument: -d\n", 1},
        {{"--"}, "Invalid argument: --\n", 1},
        {{"-?=1"}, "Invalid argument: -?\n", 1},
        {{"--he=1"}, "Invalid argument: --help\n", 1},
        {{"-X=value"}, "Invalid argument: -X\n", 1},
        {{"-d=SEQ"}, "Invalid direction. SEQ" + usage, 1},
        {{"-d=ANSI"}, "Invalid direction. ANSI" + usage, 1},
        {{"-d=ans"}, "Invalid direction. ans" + usage, 1},
        {{"-d=seq "}, "Invalid direction. seq " + usage, 1},
        {{"-d="}, "Invalid direction. " + usage, 1},
        {{"-d=bad", "-x"}, "Invalid direction. bad" + usage, 1},
        {{"-d=txt", "-d=no"}, "Invalid direction. no" + usage, 1},
        {{"-d=seq", "--tags=PETCAT"}, "Invalid argument: --tags=PETCAT\n", 1},
        {{"--ta=kalmora", "-d=ansi"}, "Invalid argument: --ta=kalmora\n", 1},
        {{"-d=png", "--scale=9"}, "Invalid argument: --scale=9\n", 1},
        {{"--sc=0", "-d=png"}, "Invalid argument: --sc=0\n", 1},
        {{"-d=png", "--border=16"}, "Invalid argument: --border=16\n", 1},
        {{"-i=a", "--baud=2400", "-d=ansi"}, "Invalid argument: --baud=2400\n", 1},
        {{"-i=a", "-o=b", "--baud=4000001", "--baud=300", "--li", "-d=ansi"}, "Invalid argument: --baud=4000001\n", 1},
        {{"-i=a", "-o=b", "--li", "--baud=12x", "-d=ansi"}, "Invalid argument: --baud=12x\n", 1},
        {{"-i=a", "--charset=Lower", "-d=ansi"}, "Invalid argument: --charset=Lower\n", 1},
        {{"-i=a", "-o=b", "--live", "-d=txt"}, "Invalid argument: --live\n", 1},
        {{"-i=a", "--cha=lower", "-d=seq"}, "Invalid argument: --cha=lower\n", 1},
    };
    ScratchFolder folder;
    for (const auto& sample : cases) {
        std::string shown;
        for (const auto& argument : sample.arguments)
            shown += argument + " ";
        const ProcessResult result = runKalmora(sample.arguments, folder.path());
        EXPECT_EQ(result.output, sample.output) << shown;
        EXPECT_EQ(result.status, sample.status) << shown;
        EXPECT_EQ(result.errors, "") << shown;
    }
    EXPECT_TRUE(fs::is_empty(folder.path())) << "no file is opened without a direction";
}

TEST(Program, ConvertsBothWays)
{
    ScratchFolder folder;
    writeBytes(folder / "screen.seq", sampleSeq);

    ProcessResult result = runKalmora({"-i=screen.seq", "-o=screen.txt", "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, progress("screen.seq", "screen.txt", "TXT"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / "screen.txt"), sampleText);

    result = runKalmora({"/i=screen.txt", "/o=back.seq", "/d=seq"}, folder.path());
    EXPECT_EQ(result.output, progress("screen.txt", "back.seq", "SEQ"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / "back.seq"), sampleSeq);

    // An existing output is replaced, not appended to.
    writeBytes(folder / "back.seq", std::string(1000, 'x'));
    result = runKalmora({"-i=screen.txt", "-o=back.seq", "-d=seq"}, folder.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / "back.seq"), sampleSeq);

    writeBytes(folder / "empty.seq", "");
    result = runKalmora({"-i=empty.seq", "-o=empty.txt", "-d=txt"}, folder.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / "empty.txt"), "");
}

TEST(Program, SpeaksTheOtherDialectBothWays)
{
    ScratchFolder folder;
    writeBytes(folder / "screen.seq", sampleSeq);
    ProcessResult result = runKalmora({"-i=screen.seq", "-o=screen.txt", "-d=txt", "--tags=petcat"}, folder.path());
    EXPECT_EQ(result.output, progress("screen.seq", "screen.txt", "TXT"));
    EXPECT_EQ(readBytes(folder / "screen.txt"), "{clr}{wht}hi\nA{$00}~");

    // Tags split across the blocks the program reads, on one thread and on two.
    std::string text;
    std::string seq;
    for (int i = 0; i < 20000; ++i) {
        text += "{clr}{wht}Hello{3 down}{CBM-K}\r\n";
        seq += "\x93\x05\xc8\x45\x4c\x4c\x4f\x11\x11\x11\xa1\x0d";
    }
    writeBytes(folder / "many.txt", text);
    result = runKalmora({"-i=many.txt", "-o=many.seq", "-d=seq", "--tags=petcat"}, folder.path());
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(readBytes(folder / "many.seq") == seq);

    // An unknown tag fails the run with its bytes and line; the old output stays.
    for (const std::string& tail : {std::string("{caf\xc3\xa9\xff}"), std::string("{3 down")}) {
        writeBytes(folder / "bad.txt", text + tail + "\n" + text);
        result = runKalmora({"-i=bad.txt", "-o=many.seq", "-d=seq", "--tags=petcat"}, folder.path());
        EXPECT_EQ(result.output,
                  progress("bad.txt", "many.seq", "SEQ") + "Unknown tag " + tail + " in bad.txt, line 20001.\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_TRUE(readBytes(folder / "many.seq") == seq);
    }
}

TEST(Program, FileOfManyBlocksComesOutWholeEveryWay)
{
    // Larger files are read, converted and written side by side: every block
    // must come out once and in order, in every direction.
    ScratchFolder folder;
    std::mt19937 random(9);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::string seq(5 * 65536 + 777, '\0');
    for (char& code : seq)
        code = static_cast<char>(anyByte(random));
    writeBytes(folder / "big.seq", seq);
    ProcessResult result = runKalmora({"-i=big.seq", "-o=big.txt", "-d=txt"}, folder.path());
    EXPECT_EQ(result.status, 0);
    result = runKalmora({"-i=big.txt", "-o=back.seq", "-d=seq"}, folder.path());
    EXPECT_EQ(result.output, progress("big.txt", "back.seq", "SEQ"));
    EXPECT_EQ(result.status, 0);
    EXPECT_TRUE(readBytes(folder / "back.seq") == seq);

    // The screen writes far more than a block's room when every other code
    // clears it, so each block goes out in many pieces, and the last screen
    // only at the end: one row per "A", then the "B" row. Below one block the
    // program runs on one thread, above it on two.
    const auto row = [](char glyph) {
        return std::string("\x1b[38;2;112;109;235m\x1b[48;2;0;0;0m") + glyph + "\x1b[0m\n";
    };
    for (const std::size_t screens : {30000u, 3 * 32768u + 5}) {
        std::string screenSeq;
        std::string expected;
        for (std::size_t i = 0; i < screens; ++i) {
            screenSeq += "\x41\x93";
            expected += row('A');
        }
        screenSeq += '\x42';
        expected += row('B');
        writeBytes(folder / "screens.seq", screenSeq);
        result = runKalmora({"-i=screens.seq", "-o=screens.ans", "-d=ansi"}, folder.path());
        EXPECT_EQ(result.status, 0) << screens;
        EXPECT_TRUE(readBytes(folder / "screens.ans") == expected) << screens;
    }
}

TEST(Program, LaterOptionsReplaceEarlierOnes)
{
    ScratchFolder folder;
    writeBytes(folder / "b", "\x41");
    // Shorter names after longer ones keep nothing of the longer.
    const ProcessResult result = runKalmora({"-i=abc", "-i=b", "-o=xyz", "-o=c", "-d=seq", "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, progress("b", "c", "TXT"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / "c"), "a");
    EXPECT_FALSE(fs::exists(folder / "xyz"));
}

TEST(Program, InputThatCannotBeOpenedLeavesTheOutputAlone)
{
    ScratchFolder folder;
    fs::create_directory(folder / "folder");
    writeBytes(folder / "kept", "old contents");
    const struct {
        std::string input;
        std::string output;
        unsigned error;
    } cases[] = {
        {"missing", "new", 2},
        {"", "new", 2},
        {"folder", "kept", folderError},
        {"missing", "kept", 2},
    };
    for (const auto& sample : cases) {
        const ProcessResult result = runKalmora({"-i=" + sample.input, "-o=" + sample.output, "-d=txt"}, folder.path());
        EXPECT_EQ(result.output, progress(sample.input, sample.output, "TXT") + "Could not open " + sample.input +
                                     " for reading. [" + std::to_string(sample.error) + "]")
            << sample.input;
        EXPECT_EQ(result.status, 1) << sample.input;
    }
    EXPECT_FALSE(fs::exists(folder / "new"));
    EXPECT_EQ(readBytes(folder / "kept"), "old contents");
}

TEST(Program, OutputThatIsTheInputIsRefusedUntouched)
{
    ScratchFolder folder;
    writeBytes(folder / "same", sampleText);
    fs::create_hard_link(folder / "same", folder / "hard");
    fs::create_directory(folder / "sub");
    for (const std::string output : {"same", "./same", "hard", "sub/../same"}) {
        const ProcessResult result = runKalmora({"-i=same", "-o=" + output, "-d=seq"}, folder.path());
        EXPECT_EQ(result.output, progress("same", output, "SEQ") + "Could not open " + output + " for writing. [13]");
        EXPECT_EQ(result.status, 1) << output;
        EXPECT_EQ(readBytes(folder / "same"), sampleText) << output;
    }
}

TEST(Program, OutputThatIsASymbolicLinkToTheInputIsRefusedUntouched)
{
    ScratchFolder folder;
    writeBytes(folder / "same", sampleText);
    std::error_code error;
    fs::create_symlink("same", folder / "soft", error);
    if (error)
        GTEST_SKIP() << "no symbolic links here: " << error.message();
    const ProcessResult result = runKalmora({"-i=same", "-o=soft", "-d=seq"}, folder.path());
    EXPECT_EQ(result.output, progress("same", "soft", "SEQ") + "Could not open soft for writing. [13]");
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(readBytes(folder / "same"), sampleText);
}

TEST(Program, OutputThatCannotBeOpenedIsReported)
{
    ScratchFolder folder;
    writeBytes(folder / "in", sampleSeq);
    const struct {
        std::string output;
        unsigned error;
    } cases[] = {{"in/", 20}, {"no/such/folder/out", 2}, {"", 2}};
    for (const auto& sample : cases) {
        const ProcessResult result = runKalmora({"-i=in", "-o=" + sample.output, "-d=txt"}, folder.path());
        EXPECT_EQ(result.output, progress("in", sample.output, "TXT") + "Could not open " + sample.output +
                                     " for writing. [" + std::to_string(sample.error) + "]");
        EXPECT_EQ(result.status, 1) << sample.output;
    }
}

TEST(Program, FailedWriteIsReported)
{
    if (!fs::exists("/dev/full"))
        GTEST_SKIP() << "this system has no /dev/full";
    ScratchFolder folder;
    writeBytes(folder / "in", sampleSeq);
    writeBytes(folder / "empty", "");
    const struct {
        std::string input;
        std::string direction;
        std::string kind;
        std::string failure;
    } cases[] = {
        {"in", "txt", "TXT", "Could not write /dev/full. [28]"},
        // The screen writes all it holds once the input has ended.
        {"in", "ansi", "ANSI", "Could not write /dev/full. [28]"},
        // Nothing to write, nothing to fail: a blank screen writes nothing.
        {"empty", "seq", "SEQ", ""},
        {"empty", "ansi", "ANSI", ""},
    };
    for (const auto& sample : cases) {
        const ProcessResult result =
            runKalmora({"-i=" + sample.input, "-o=/dev/full", "-d=" + sample.direction}, folder.path());
        EXPECT_EQ(result.output, progress(sample.input, "/dev/full", sample.kind) + sample.failure) << sample.direction;
        EXPECT_EQ(result.status, sample.failure.empty() ? 0 : 1) << sample.direction;
    }
    EXPECT_EQ(readBytes(folder / "in"), sampleSeq);
}

TEST(Program, FailedReadIsReported)
{
    // Reading a process's own memory at offset 0 fails with an I/O error.
    if (onWindows)
        GTEST_SKIP() << "Windows has no file whose reads fail on demand (Wine only passes Linux paths through)";
    if (!fs::exists("/proc/self/mem"))
        GTEST_SKIP() << "this system has no /proc/self/mem";
    ScratchFolder folder;
    const ProcessResult result = runKalmora({"-i=/proc/self/mem", "-o=out", "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, progress("/proc/self/mem", "out", "TXT") + "Could not read /proc/self/mem. [5]");
    EXPECT_EQ(result.status, 1);
}

TEST(Program, ReadsFilesAndTheListingOffDiskImages)
{
    ScratchFolder folder;
    TestImage image(1541, 174848);
    const char* names[] = {"\xc1RT", "NOTES", "A", "LOOP"};
    const std::string data[] = {sampleSeq, sampleText, "\x41", std::string(300, 'x')};
    for (unsigned n = 0; n < 4; ++n) {
        image.entry(n, n == 1 ? 0x82 : 0x81, names[n], 1, n);
        image.chain({{1, n}}, data[n]);
    }
    image.chain({{1, 3}, {1, 4}, {1, 3}}, data[3]);
    writeBytes(folder / "disk.d64", std::string(image.bytes.begin(), image.bytes.end()));
    writeBytes(folder / "plain.seq", sampleSeq);
    // Where ":" may be part of a name: a file by the whole name, an image in a folder with ":".
    if (!onWindows) {
        writeBytes(folder / "disk.d64:notes", "\x42");
        fs::create_directory(folder / "x:y");
        fs::copy_file(folder / "disk.d64", folder / "x:y" / "disk.d64");
    }
    const struct {
        std::string input, output, direction, failure, contents;
    } cases[] = {
        {"disk.d64:{193}rt", "a.txt", "txt", "", sampleText},
        {"disk.d64:notes,p", "b.seq", "seq", "", sampleSeq},
        {"disk.d64:a", "c.ans", "ansi", "", "\x1b[38;2;112;109;235m\x1b[48;2;0;0;0mA\x1b[0m\n"},
        {onWindows ? "disk.d64:a" : "disk.d64:notes", "e.txt", "txt", "", onWindows ? "a" : "b"},
        {onWindows ? "disk.d64:a" : "x:y/disk.d64:a", "f.txt", "txt", "", "a"},
        // What cannot be read leaves the old output.
        {"disk.d64:none", "kept", "txt", "Could not open disk.d64:none for reading. [2]", "old"},
        {"plain.seq:a", "kept", "txt", "Could not open plain.seq:a for reading. [2]", "old"},
        {"disk.d64:loop", "kept", "txt", "Could not read disk.d64:loop. [5]", "old"},
        {"disk.d64:a", "disk.d64", "txt", "Could not open disk.d64 for writing. [13]", readBytes(folder / "disk.d64")},
    };
    for (const auto& sample : cases) {
        writeBytes(folder / "kept", "old");
        const ProcessResult result =
            runKalmora({"-i=" + sample.input, "-o=" + sample.output, "-d=" + sample.direction}, folder.path());
        const char* kind = sample.direction == "seq" ? "SEQ" : sample.direction == "txt" ? "TXT" : "ANSI";
        EXPECT_EQ(result.output, progress(sample.input, sample.output, kind) + sample.failure);
        EXPECT_EQ(result.status, sample.failure.empty() ? 0 : 1) << sample.input;
        EXPECT_TRUE(readBytes(folder / sample.output) == sample.contents) << sample.input;
    }
}

TEST(Program, NamesUpTo256CharactersAreTakenWhole)
{
    ScratchFolder folder;
    const std::string directory(120, 'd');
    fs::create_directory(folder / directory);
    // 256 characters in all, each part within the file system's limit.
    const std::string longest = directory + "/" + std::string(135, 'n');
    ASSERT_EQ(longest.size(), 256u);
    writeBytes(folder / "in", "\x41");

    ProcessResult result = runKalmora({"-i=in", "-o=" + longest, "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, progress("in", longest, "TXT"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / longest), "a");

    // Characters of every encoded length count one each, four-byte ones too.
    const std::string characters[] = {"a", "\xc3\xa9", "\xe2\x82\xac", "\xf0\x9f\x98\x80"};
    std::string mixed;
    for (std::size_t i = 0; i < 256; ++i)
        mixed += i % 50 == 49 ? "/" : characters[i % 4];
    fs::create_directories((folder / mixed).parent_path());
    EXPECT_EQ(runKalmora({"-i=in", "-o=" + mixed, "-d=txt"}, folder.path()).output, progress("in", mixed, "TXT"));

    // One more character would have to be cut off: refuse instead.
    const std::string tooLong = longest + "x";
    const struct {
        std::vector<std::string> arguments;
        std::string name;
    } cases[] = {
        {{"-i=in", "-o=" + tooLong, "-d=txt"}, tooLong},
        {{"-i=" + tooLong, "-o=out", "-d=txt"}, tooLong},
        {{"-o=" + tooLong + "yyyy", "-x"}, tooLong + "yyyy"},
        {{"-i=in", "-o=" + mixed + "x", "-d=txt"}, mixed + "x"},
    };
    for (const auto& sample : cases) {
        result = runKalmora(sample.arguments, folder.path());
        EXPECT_EQ(result.output, "File name too long: " + sample.name + "\n");
        EXPECT_EQ(result.status, 1);
    }
    // Faults are reported in command-line order.
    result = runKalmora({"-x", "-o=" + tooLong}, folder.path());
    EXPECT_EQ(result.output, "Invalid argument: -x\n");
    EXPECT_FALSE(fs::exists(folder / "out"));
    EXPECT_FALSE(fs::exists(folder / tooLong));
}

// Converts a file named `name` to `name`.txt, checking that both names are
// echoed as their exact bytes.
static void expectConvertsUnder(const std::string& name, const ScratchFolder& folder)
{
    writeBytes(folder / name, "\x41\x0d");
    const std::string output = name + ".txt";
    const ProcessResult result = runKalmora({"-i=" + name, "-o=" + output, "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, progress(name, output, "TXT"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(readBytes(folder / output), "a\n");
}

TEST(Program, NamesKeepTheirExactBytes)
{
    ScratchFolder folder;
    for (const std::string name : {"gr\xc3\xbc\xc3\x9f" "e \xe2\x82\xac.seq", "-dash.seq", "with space.seq"}) {
        expectConvertsUnder(name, folder);
        const std::string output = name + ".txt";
        const ProcessResult missing = runKalmora({"-i=" + name + "x", "-o=" + output, "-d=txt"}, folder.path());
        EXPECT_EQ(missing.output, progress(name + "x", output, "TXT") + "Could not open " + name + "x for reading. [2]");
    }
}

TEST(Program, NamesThatAreNotUtf8KeepTheirExactBytes)
{
    if (onWindows)
        GTEST_SKIP() << "file names are UTF-16 on Windows: bytes that are not UTF-8 name no file there";
    ScratchFolder folder;
    for (const std::string name : {"bad\xff\xfe\x80.seq", "\xed\xa0\x80.seq"})
        expectConvertsUnder(name, folder);
}

TEST(Program, SampleScreenConvertsToItsShippedForms)
{
    const fs::path examples = fs::path(KALMORA_SOURCE_DIR) / "examples";
    const std::string seq = (examples / "greeting.seq").string();
    ScratchFolder folder;
    // In order: the text made by the first row is the input of the second.
    const struct {
        std::string input;
        std::string output;
        std::string direction;
        std::string kind;
    } cases[] = {
        {seq, "greeting.txt", "txt", "TXT"},
        {"greeting.txt", "greeting.seq", "seq", "SEQ"},
        {seq, "greeting.ans", "ansi", "ANSI"},
        {seq, "greeting.png", "png", "PNG"},
    };
    for (const auto& sample : cases) {
        const ProcessResult result =
            runKalmora({"-i=" + sample.input, "-o=" + sample.output, "-d=" + sample.direction}, folder.path());
        EXPECT_EQ(result.output, progress(sample.input, sample.output, sample.kind));
        EXPECT_EQ(result.status, 0) << sample.output;
        EXPECT_EQ(readBytes(folder / sample.output), readBytes(examples / sample.output)) << sample.output;
    }
    const ProcessResult result = runKalmora({"-i=" + seq, "-o=-", "-d=png"}, folder.path());
    EXPECT_EQ(result.errors, progress(seq, "-", "PNG"));
    EXPECT_TRUE(result.output == readBytes(examples / "greeting.png"));
}

TEST(Program, FontThatIsNoCharacterRomIsRefusedBeforeAnythingIsWritten)
{
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    writeBytes(folder / "short", std::string(4095, 'x'));
    writeBytes(folder / "long", std::string(4097, 'x'));
    for (const std::string font : {"short", "long", "none"}) {
        const ProcessResult result = runKalmora({"-i=in.seq", "-o=out.png", "-d=png", "--font=" + font}, folder.path());
        EXPECT_EQ(result.output, font == "none" ? "Could not open none for reading. [2]" : "Invalid argument: --font=" + font +
                                                                                          "\n");
        EXPECT_EQ(result.status, 1);
        EXPECT_FALSE(fs::exists(folder / "out.png")) << font;
    }
}

TEST(Program, StandardStreamsCarryTheDataAndTheMessagesGoApart)
{
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    // Byte 26 would end the input, and a line feed gain a CR, in text mode on Windows.
    const std::string seq = sampleSeq + "\x1a\x41", text = sampleText + "{26}a";
    const struct { std::string input, output, direction, fed, out, err; int status; } cases[] = {
        {"-", "-", "txt", seq, text, progress("-", "-", "TXT"), 0},
        {"-", "out.txt", "txt", seq, progress("-", "out.txt", "TXT"), "", 0},
        // The system's names for descriptors, as shells hand them out.
        {"in.seq", "/dev/stdout", "txt", "", sampleText, progress("in.seq", "/dev/stdout", "TXT"), 0},
        {"/dev/stdin", "/proc/self/fd/1", "txt", seq, text, progress("/dev/stdin", "/proc/self/fd/1", "TXT"), 0},
        {"in.seq", "/dev/stderr", "txt", "", progress("in.seq", "/dev/stderr", "TXT"), sampleText, 0},
        {"in.seq", "/dev/stdin", "txt", "",
         progress("in.seq", "/dev/stdin", "TXT") + "Could not open /dev/stdin for writing. [9]", "", 1},
    };
    for (const auto& sample : cases) {
        if (onWindows && (sample.input[0] == '/' || sample.output[0] == '/'))  // no such names there
            continue;
        writeBytes(folder / "fed", sample.fed);
        const ProcessResult result = runKalmora(
            {"-i=" + sample.input, "-o=" + sample.output, "-d=" + sample.direction}, folder.path(), folder / "fed");
        EXPECT_EQ(result.output, sample.out) << sample.input << " " << sample.output;
        EXPECT_EQ(result.errors, sample.err) << sample.input << " " << sample.output;
        EXPECT_EQ(result.status, sample.status) << sample.input << " " << sample.output;
    }
    EXPECT_EQ(readBytes(folder / "out.txt"), text);
    // Messages ahead of the progress line, the usage line included, kept out of the data too.
    const std::pair<std::vector<std::string>, std::string> early[] = {{{"-i=in.seq", "-o=-"}, usage},
        {{"-o=-", "-d=tx"}, "Invalid direction. tx" + usage}, {{"/o=-", "-x"}, "Invalid argument: -x\n"},
        {{"-i=" + std::string(257, 'n'), "-o=-"}, "File name too long: " + std::string(257, 'n') + "\n"}};
    for (const auto& [arguments, message] : early) {
        const ProcessResult result = runKalmora(arguments, folder.path());
        EXPECT_EQ(result.output, "") << message;
        EXPECT_EQ(result.errors, message);
    }
}

TEST(Program, ConvertsAWholeDiskOrFolderIntoAFolder)
{
    ScratchFolder folder;
    TestImage image(1581, 822400);  // a D81 with its error bytes
    const std::pair<int, const char*> entries[] = {{0x81, "A/B:C?"}, {0x81, ".TRAIL  "}, {0x81, "CON"},
        {0x81, "MENU"}, {0x89, "menu"}, {0x81, "BROKEN"}, {0x82, "PROG"}, {0x81, "LAST"}};
    for (unsigned n = 0; n < 8; ++n) {
        image.entry(n, static_cast<std::uint8_t>(entries[n].first), entries[n].second, 1, n);
        image.chain({{1, n}}, n == 3 ? sampleSeq : std::string(1, char('A' + n)));
    }
    image.chain({{1, 5}, {99, 0}}, std::string(300, 'x'));
    writeBytes(folder / "disk.d81", std::string(image.bytes.begin(), image.bytes.end()));
    fs::create_directory(folder / "out");
    writeBytes(folder / "out" / "menu.txt", "old");
    writeBytes(folder / "out" / "keep", "not named by the run");
    const std::pair<std::string, std::string> outputs[] = {{"a/b:c?", "a{47}b{58}c{63}.txt"},
        {".trail  ", "{46}trail {32}.txt"}, {"con", "co{110}.txt"}, {"menu", "menu.txt"}, {"MENU", "MENU~2.txt"},
        {"broken", "broken.txt"}, {"last", "last.txt"}};
    std::string console;
    for (const auto& [name, output] : outputs) {
        console += progress("disk.d81:" + name, "out/" + output, "TXT");
        console += name == "broken" ? "Could not read disk.d81:broken. [5]\n" : "";
    }
    ProcessResult result = runKalmora({"-i=disk.d81:*,s", "-o=out/", "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, console);
    EXPECT_EQ(result.status, 1);
    const std::string contents[] = {"a", "b", "c", sampleText, "e", "", "h"};
    for (unsigned n = 0; n < 7; ++n)
        EXPECT_EQ(fs::exists(folder / "out" / outputs[n].second) ? readBytes(folder / "out" / outputs[n].second) : "",
                  contents[n]) << outputs[n].second;
    EXPECT_EQ(readBytes(folder / "out" / "keep"), "not named by the run");
    EXPECT_EQ(std::distance(fs::directory_iterator(folder / "out"), fs::directory_iterator()), 7);
    result = runKalmora({"-i=disk.d81:$", "-o=out", "-d=seq"}, folder.path());
    EXPECT_EQ(result.output, progress("disk.d81:$", "out/$.seq", "SEQ"));

    // A folder's files in byte order of their names, into an existing folder, made with 0666 less the umask.
    fs::create_directories(folder / "art" / "sub");
    writeBytes(folder / "art" / "menu.seq", sampleSeq);
    writeBytes(folder / "art" / "MENU", "\x41");
#ifndef _WIN32
    const mode_t mask = ::umask(027);
#endif
    result = runKalmora({"-i=art", "-o=new/", "-d=txt"}, folder.path());
    EXPECT_EQ(result.output, progress("art/MENU", "new/MENU.txt", "TXT") + progress("art/menu.seq", "new/menu~2.txt", "TXT"));
    EXPECT_EQ(readBytes(folder / "new" / "menu~2.txt"), sampleText);
    // Each file starts afresh: a tag left open at the end of one does not go on in the next.
    writeBytes(folder / "new" / "MENU.txt", "ab{RE");
    writeBytes(folder / "new" / "MENU~1.txt", "D}");
    EXPECT_EQ(runKalmora({"-i=new", "-o=seq/", "-d=seq"}, folder.path()).status, 0);
    EXPECT_EQ(readBytes(folder / "seq" / "MENU~1.seq"), std::string("\x64\x00", 2));
#ifndef _WIN32
    ::umask(mask);
    EXPECT_EQ(fs::status(folder / "new").permissions(), fs::perms(0750));
    EXPECT_EQ(fs::status(folder / "new" / "MENU.txt").permissions(), fs::perms(0640));
#endif
}
