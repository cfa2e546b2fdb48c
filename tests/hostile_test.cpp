// The program as a process under hostile input and failing surroundings: each
// case checks the exact console bytes, the exit status and afterwards the
// state of every file in the folder, so an input that changed, an output that
// was created or emptied when it should not be, or a stray file shows up.

#include "process.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Every entry below a folder by its relative path, with its kind and contents.
using FolderState = std::map<std::string, std::string>;

FolderState stateOf(const fs::path& folder)
{
    FolderState state;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        const std::string name = entry.path().lexically_relative(folder).string();
        if (entry.is_symlink())
            state[name] = "link to " + fs::read_symlink(entry.path()).string();
        else if (entry.is_directory())
            state[name] = "folder";
        else if (entry.is_fifo())
            state[name] = "fifo";
        else if (entry.is_regular_file())
            state[name] = "file " + readBytes(entry.path());
        else
            state[name] = "other";
    }
    return state;
}

std::string file(const std::string& bytes)
{
    return "file " + bytes;
}

std::string progress(const std::string& input, const std::string& output, const std::string& kind)
{
    return "Processing " + input + " to " + output + " as " + kind + "\n\n";
}

std::string cannotWrite(const std::string& input, const std::string& output, const std::string& kind, int error)
{
    return progress(input, output, kind) + "Could not open " + output + " for writing. [" + std::to_string(error) + "]";
}

std::string cannotRead(const std::string& input, const std::string& output, const std::string& kind, int error)
{
    return progress(input, output, kind) + "Could not open " + input + " for reading. [" + std::to_string(error) + "]";
}

// Checks everything a run of kalmora can be seen to have done.
void expectResult(const ProcessResult& result, const ScratchFolder& folder, const std::string& console, int status,
                  const FolderState& after, const std::string& label)
{
    EXPECT_EQ(result.output, console) << label;
    EXPECT_EQ(result.status, status) << label;
    EXPECT_EQ(result.errors, "") << label;
    EXPECT_EQ(stateOf(folder.path()), after) << label;
}

void expectRun(const ScratchFolder& folder, const std::vector<std::string>& arguments, const std::string& console,
               int status, const FolderState& after, const std::string& label)
{
    expectResult(runKalmora(arguments, folder.path()), folder, console, status, after, label);
}

// Runs kalmora with a fault library preloaded and `faults` ("NAME=VALUE" each,
// see fault_shim.cpp) in its environment, from a shell that first runs
// `limit` and gives the program the redirections `streams`.
ProcessResult runWithFaults(const fs::path& directory, const std::vector<std::string>& faults,
                            const std::vector<std::string>& arguments, const std::string& limit = "",
                            const std::string& streams = "", const std::string& library = FAULT_SHIM)
{
    std::string script = limit + (limit.empty() ? "" : " && ") + "exec env LD_PRELOAD='" + library +
                         "' ASAN_OPTIONS=\"${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0\"";
    for (const std::string& fault : faults)
        script += " '" + fault + "'";
    script += " \"$0\" \"$@\" " + streams;
    std::vector<std::string> shellArguments{"-c", script, KALMORA_EXECUTABLE};
    shellArguments.insert(shellArguments.end(), arguments.begin(), arguments.end());
    return runProcess("/bin/sh", shellArguments, directory);
}

// Converts `text` to SEQ in a fresh folder and checks the codes, the console,
// and that the text file is the only other file and is unchanged.
void expectTextGives(const std::string& text, const std::string& codes, const std::string& label)
{
    ScratchFolder folder;
    writeBytes(folder / "in.txt", text);
    expectRun(folder, {"-i=in.txt", "-o=out.seq", "-d=seq"}, progress("in.txt", "out.seq", "SEQ"), 0,
              {{"in.txt", file(text)}, {"out.seq", file(codes)}}, label);
}

// Holds a lock on a file as another program would: flock, or with `record`
// a POSIX record lock over the whole file (fcntl, lockf).
class HeldLock {
public:
    HeldLock(const fs::path& path, int operation, bool record = false)
        : m_file(::open(path.c_str(), (record ? O_RDWR : O_RDONLY) | O_CLOEXEC))
    {
        struct flock range {};
        range.l_type = operation == LOCK_EX ? F_WRLCK : F_RDLCK;
        range.l_whence = SEEK_SET;
        if (m_file < 0 || (record ? ::fcntl(m_file, F_SETLK, &range) : ::flock(m_file, operation | LOCK_NB)) != 0)
            throw std::runtime_error("cannot lock " + path.string());
    }
    ~HeldLock() { ::close(m_file); }
    HeldLock(const HeldLock&) = delete;
    HeldLock& operator=(const HeldLock&) = delete;

private:
    int m_file;
};

// True once some other open of `path` holds a lock that refuses `operation`.
bool waitUntilLocked(const fs::path& path, int operation)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int probe = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (probe >= 0) {
            const bool refused = ::flock(probe, operation | LOCK_NB) != 0 && errno == EWOULDBLOCK;
            ::close(probe);
            if (refused)
                return true;
        }
        std::this_thread::sleep_for(10ms);
    }
    return false;
}

// Opens the writing end of a FIFO once a reader has it open; -1 after ten seconds.
int openFifoForWriting(const fs::path& path)
{
    for (int attempt = 0; attempt < 1000; ++attempt) {
        const int fifo = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fifo >= 0) {
            ::fcntl(fifo, F_SETFL, 0);
            return fifo;
        }
        std::this_thread::sleep_for(10ms);
    }
    return -1;
}

void writeAll(int file, const std::string& bytes)
{
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t count = ::write(file, bytes.data() + done, bytes.size() - done);
        if (count <= 0)
            throw std::runtime_error("cannot write to the FIFO");
        done += static_cast<std::size_t>(count);
    }
}

std::future<ProcessResult> startKalmora(const std::vector<std::string>& arguments, const fs::path& directory)
{
    return std::async(std::launch::async, [arguments, directory] { return runKalmora(arguments, directory); });
}

const std::string sampleSeq("\x93\x05\x48\x49\x0d\xc1\x00\xff", 8);

}  // namespace

TEST(Hostile, OutputsThatCannotBeOpenedLeaveEveryFileAsItWas)
{
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    fs::create_directory(folder / "sub");
    writeBytes(folder / "sub" / "keep", "kept");
    fs::create_symlink("missing/target", folder / "dangling");
    writeBytes(folder / "busy", "someone else's");
    const FolderState before = stateOf(folder.path());

    const struct {
        std::string output;
        int error;
    } cases[] = {
        {"no/such/folder/out.txt", ENOENT},  // folders are never made
        {"missing/out.txt", ENOENT},
        {"dangling", ENOENT},                 // a link into a folder that does not exist
        {"sub", EISDIR},
        {"sub/", EISDIR},
        {"new/", EISDIR},                     // a folder name that does not exist yet
        {".", EISDIR},
        {"sub/keep/x", ENOTDIR},
    };
    for (const auto& sample : cases)
        expectRun(folder, {"-i=in.seq", "-o=" + sample.output, "-d=txt"},
                  cannotWrite("in.seq", sample.output, "TXT", sample.error), 1, before, sample.output);

    // A file another program holds, for writing or for reading, is not ours to empty.
    for (const bool record : {false, true}) {
        for (const int operation : {LOCK_EX, LOCK_SH}) {
            const HeldLock lock(folder / "busy", operation, record);
            expectRun(folder, {"-i=in.seq", "-o=busy", "-d=txt"}, cannotWrite("in.seq", "busy", "TXT", EACCES), 1,
                      before, std::string(operation == LOCK_EX ? "busy writer" : "busy reader") + (record ? ", record lock" : ""));
        }
    }
}

TEST(Hostile, InputHeldByAWriterIsRefusedAndByAReaderIsShared)
{
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    for (const bool record : {false, true}) {
        const HeldLock lock(folder / "in.seq", LOCK_EX, record);
        expectRun(folder, {"-i=in.seq", "-o=out.txt", "-d=txt"}, cannotRead("in.seq", "out.txt", "TXT", EACCES), 1,
                  {{"in.seq", file(sampleSeq)}}, record ? "held by a writer's record lock" : "held by a writer");
    }
    const HeldLock lock(folder / "in.seq", LOCK_SH);
    expectRun(folder, {"-i=in.seq", "-o=out.txt", "-d=txt"}, progress("in.seq", "out.txt", "TXT"), 0,
              {{"in.seq", file(sampleSeq)}, {"out.txt", file("{CLEAR}{WHITE}hi\n{193}{0}{255}")}}, "held by a reader");
    // So is a disk image read for a file on it.
    writeBytes(folder / "disk.d64", std::string(174848, '\0'));
    const HeldLock writer(folder / "disk.d64", LOCK_EX);
    EXPECT_EQ(runKalmora({"-i=disk.d64:a", "-o=out.txt", "-d=txt"}, folder.path()).output,
              cannotRead("disk.d64:a", "out.txt", "TXT", EACCES));
}

TEST(Hostile, RunningConversionHoldsItsOutputAndItsInput)
{
    ScratchFolder folder;
    ASSERT_EQ(::mkfifo((folder / "feed").c_str(), 0600), 0);
    writeBytes(folder / "other.txt", "{RED}");

    // The first conversion reads a FIFO that the test feeds, so it stays
    // running with its output open until the test lets it finish.
    auto first = startKalmora({"-i=feed", "-o=out.seq", "-d=seq"}, folder.path());
    const int fifo = openFifoForWriting(folder / "feed");
    ASSERT_GE(fifo, 0);
    writeAll(fifo, "{CLEAR}");
    ASSERT_TRUE(waitUntilLocked(folder / "out.seq", LOCK_SH));
    // Until it is complete, the conversion is not under the output's name.
    const FolderState during = {{"feed", "fifo"}, {"other.txt", file("{RED}")}, {"out.seq", file("")}};

    // Neither writing nor reading the file being written is allowed.
    expectRun(folder, {"-i=other.txt", "-o=out.seq", "-d=seq"}, cannotWrite("other.txt", "out.seq", "SEQ", EACCES), 1,
              during, "second writer");
    expectRun(folder, {"-i=out.seq", "-o=copy.txt", "-d=txt"}, cannotRead("out.seq", "copy.txt", "TXT", EACCES), 1,
              during, "reader of an unfinished file");

    writeAll(fifo, "hi\r\n{RED}");
    ::close(fifo);
    const ProcessResult result = first.get();
    EXPECT_EQ(result.output, progress("feed", "out.seq", "SEQ"));
    EXPECT_EQ(result.status, 0);
    // Had the refused runs emptied the file, its first code would be lost.
    EXPECT_EQ(stateOf(folder.path()),
              (FolderState{{"feed", "fifo"}, {"other.txt", file("{RED}")}, {"out.seq", file("\x93\x48\x49\x0d\x1c")}}));
}

TEST(Hostile, RunningConversionLetsOthersReadItsInputButNotWriteIt)
{
    ScratchFolder folder;
    // Enough text that the conversion blocks on a full FIFO until the test reads.
    const std::string seq(256 * 1024, '\x93');
    std::string text;
    for (std::size_t i = 0; i < seq.size(); ++i)
        text += "{CLEAR}";
    writeBytes(folder / "in.seq", seq);
    writeBytes(folder / "small.seq", "\x1c");
    ASSERT_EQ(::mkfifo((folder / "drain").c_str(), 0600), 0);

    auto first = startKalmora({"-i=in.seq", "-o=drain", "-d=txt"}, folder.path());
    const int fifo = ::open((folder / "drain").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    ASSERT_TRUE(waitUntilLocked(folder / "in.seq", LOCK_EX));

    expectRun(folder, {"-i=small.seq", "-o=in.seq", "-d=txt"}, cannotWrite("small.seq", "in.seq", "TXT", EACCES), 1,
              {{"in.seq", file(seq)}, {"small.seq", file("\x1c")}, {"drain", "fifo"}}, "writer of a file being read");
    expectRun(folder, {"-i=in.seq", "-o=copy.txt", "-d=txt"}, progress("in.seq", "copy.txt", "TXT"), 0,
              {{"in.seq", file(seq)}, {"small.seq", file("\x1c")}, {"drain", "fifo"}, {"copy.txt", file(text)}},
              "second reader");

    std::string drained;
    char chunk[65536];
    for (ssize_t count; (count = ::read(fifo, chunk, sizeof chunk)) > 0;)
        drained.append(chunk, static_cast<std::size_t>(count));
    ::close(fifo);
    const ProcessResult result = first.get();
    EXPECT_EQ(result.output, progress("in.seq", "drain", "TXT"));
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(drained, text);
    EXPECT_EQ(readBytes(folder / "in.seq"), seq);
}

TEST(Hostile, FifoFedSlowlyConvertsAsOneFile)
{
    // Pieces cut inside tags, between CR and LF, and inside a number tag.
    const struct {
        std::string direction;
        std::vector<std::string> pieces;
        std::string expected;
    } cases[] = {
        {"seq", {"{CL", "EAR}hi\r", "\n{RE", "D}{1", "93}\r"}, "\x93\x48\x49\x0d\x1c\xc1\x0d"},
        {"seq", {"a\r", "\r", "\n", "\n", "{", "}", "}"}, std::string("\x41\x0d\x0d\x0d\x00\x00", 6)},
        {"txt", {"\x93", "\x0d\x0d", std::string(1, '\0'), "\xff"}, "{CLEAR}\n\n{0}{255}"},
        {"txt", {std::string(70000, '\x41'), "\x41", std::string(3000, '\x41')}, std::string(73001, 'a')},  // over a block
    };
    for (const auto& sample : cases) {
        ScratchFolder folder;
        ASSERT_EQ(::mkfifo((folder / "feed").c_str(), 0600), 0);
        auto run = startKalmora({"-i=feed", "-o=out", "-d=" + sample.direction}, folder.path());
        const int fifo = openFifoForWriting(folder / "feed");
        ASSERT_GE(fifo, 0);
        for (const std::string& piece : sample.pieces) {
            writeAll(fifo, piece);
            std::this_thread::sleep_for(20ms);
        }
        ::close(fifo);
        const ProcessResult result = run.get();
        const std::string kind = sample.direction == "seq" ? "SEQ" : "TXT";
        EXPECT_EQ(result.output, progress("feed", "out", kind));
        EXPECT_EQ(result.status, 0);
        EXPECT_EQ(stateOf(folder.path()), (FolderState{{"feed", "fifo"}, {"out", file(sample.expected)}}))
            << sample.expected;
    }
}

TEST(Hostile, EmptyInputGivesAnEmptyOutputBothWays)
{
    for (const std::string direction : {"seq", "txt"}) {
        ScratchFolder folder;
        writeBytes(folder / "empty", "");
        writeBytes(folder / "old", "replaced");
        expectRun(folder, {"-i=empty", "-o=old", "-d=" + direction},
                  progress("empty", "old", direction == "seq" ? "SEQ" : "TXT"), 0,
                  {{"empty", file("")}, {"old", file("")}}, direction);
    }
}

TEST(Hostile, NamesAreTakenLiterally)
{
    const struct {
        std::string input;
        std::string output;
    } cases[] = {
        {" lead and trail ", "with  two  spaces"},
        {"--help", "-?"},                         // values that look like options ("-" alone is a stream)
        {"-i=x", "--"},
        {"-d=txt", "d/i=x"},                      // "=" and "/" inside a value are plain characters
        {"a=b", "=="},
        {"\xe6\x97\xa5\xe6\x9c\xac\xe8\xaa\x9e", "\xe2\x98\x83 \xf0\x9f\x98\x80.txt"},  // CJK, snowman, emoji
        {"caf\xc3\xa9", "e\xcc\x81"},             // precomposed and combining accents stay distinct
    };
    for (const auto& sample : cases) {
        ScratchFolder folder;
        const fs::path inputPath = folder / sample.input;
        fs::create_directories(inputPath.parent_path());
        writeBytes(inputPath, sampleSeq);
        if (sample.output.find('/') != std::string::npos)
            fs::create_directories((folder / sample.output).parent_path());
        FolderState after = stateOf(folder.path());
        after[sample.output] = file("{CLEAR}{WHITE}hi\n{193}{0}{255}");
        expectRun(folder, {"-i=" + sample.input, "-o=" + sample.output, "-d=txt"},
                  progress(sample.input, sample.output, "TXT"), 0, after, sample.input);
    }
}

TEST(Hostile, TagsOfEveryLengthFrom0To40)
{
    // Prefixes of a name and of a number, so the few lengths that spell a form
    // ("{LEFT}", "{LEFTARROW}", "{2}", "{25}", "{255}") give its code and every
    // other length, however long, gives 0 and leaves the next tag intact.
    const std::string letters = "LEFTARROW" + std::string(40, 'W');
    const std::string digits = "255" + std::string(40, '5');
    for (std::size_t length = 0; length <= 40; ++length) {
        // Built by appending: g++ 12 misreads a sum starting with "{" at -O3.
        std::string text(1, '{');
        text.append(letters, 0, length).append("}{RED}x{").append(digits, 0, length).append("}\r\n{");
        text.append(length, '\0').append("}");
        std::string codes;
        codes += length == 4 ? '\x9d' : length == 9 ? '\x5f' : '\0';
        codes += "\x1c\x58";
        codes += length == 1 ? '\x02' : length == 2 ? '\x19' : length == 3 ? '\xff' : '\0';
        codes += '\x0d';
        codes += '\0';  // NUL bytes add nothing to a tag: "{}"
        expectTextGives(text, codes, "length " + std::to_string(length));
    }
}

TEST(Hostile, NestedAndUnbalancedBraces)
{
    const struct {
        std::string text;
        std::string codes;
    } cases[] = {
        {"{{RED}", "\x1c"},
        {"{RE{RED}", "\x1c"},
        {"{R{E{D}", std::string(1, '\0')},
        {"{{{{RED}}}}", std::string("\x1c\0\0\0", 4)},
        {"{RED}}", std::string("\x1c\0", 2)},
        {"}}", std::string(2, '\0')},
        {"x}y", std::string("\x58\0\x59", 3)},
        {"{}", std::string(1, '\0')},
        {"{", ""},
        {"{RED", ""},
        {"ab{RED", "\x41\x42"},
        {"}{RED}{", std::string("\0\x1c", 2)},
        {"{RED}{", "\x1c"},
        {"{CLEAR{RED}}{", std::string("\x1c\0", 2)},
    };
    for (const auto& sample : cases)
        expectTextGives(sample.text, sample.codes, sample.text);
}

TEST(Hostile, NulAndHighBytesInAndOutOfTags)
{
    const struct {
        std::string text;
        std::string codes;
    } cases[] = {
        {std::string(1, '\0'), std::string(1, '\0')},
        {std::string("a\0b", 3), std::string("\x41\0\x42", 3)},
        {std::string("{RE\0D}", 6), "\x1c"},
        {std::string("{\0\0RED\0}", 8), "\x1c"},
        {std::string("{\0}", 3), std::string(1, '\0')},
        {"\x80\xff\xc1", std::string(3, '\0')},
        {"{RE\xff" "D}", std::string(1, '\0')},
        {"{\xc3\xa9}", std::string(1, '\0')},
        {"\xc3\xa9{RED}\xff", std::string("\0\0\x1c\0", 4)},
        {"\t\"\\^_`|~\x7f", std::string(9, '\0')},
    };
    for (const auto& sample : cases)
        expectTextGives(sample.text, sample.codes, "case " + std::to_string(&sample - cases));
}

TEST(Hostile, LineEndsAtEveryPositionAroundATag)
{
    const std::string tag = "{RED}";
    for (const std::string end : {"\r", "\n", "\r\n"}) {
        // Before the tag, after each of its characters, after it.
        for (std::size_t at = 0; at <= tag.size(); ++at) {
            const std::string text = tag.substr(0, at) + end + tag.substr(at);
            const std::string codes = at == 0 ? "\x0d\x1c" : at == tag.size() ? "\x1c\x0d" : std::string(1, '\0');
            expectTextGives(text, codes, "at " + std::to_string(at) + " of " + std::to_string(end.size()));
        }
        expectTextGives("{RED" + end, "", "ending an open tag");
        expectTextGives("}" + end + "{RED}" + end + "}", std::string("\0\x0d\x1c\x0d\0", 5), "around stray braces");
        expectTextGives(end + end, "\x0d\x0d", "two in a row");
    }
    // A line feed counts as part of CR LF only right after the CR.
    expectTextGives("\r{RED}\n", "\x0d\x1c\x0d", "CR and LF around a tag");
    expectTextGives("\n\r", "\x0d\x0d", "LF CR");
    expectTextGives("\r\r\n\n", "\x0d\x0d\x0d", "CR CR LF LF");

    // The other way: code 13 next to tags is a line feed and nothing else.
    const struct {
        std::string seq;
        std::string text;
    } codes[] = {
        {"\x0d\x93\x0d", "\n{CLEAR}\n"},
        {"\x93\x0d\x0d\x1c", "{CLEAR}\n\n{RED}"},
        {std::string("\x0d\0\x0d", 3), "\n{0}\n"},
        {"\x8d\x0d", "{SRETURN}\n"},
    };
    for (const auto& sample : codes) {
        ScratchFolder folder;
        writeBytes(folder / "in.seq", sample.seq);
        expectRun(folder, {"-i=in.seq", "-o=out.txt", "-d=txt"}, progress("in.seq", "out.txt", "TXT"), 0,
                  {{"in.seq", file(sample.seq)}, {"out.txt", file(sample.text)}}, sample.text);
    }
}

TEST(Hostile, InterruptedConversionLeavesTheInputIntact)
{
    // The reader of the output goes away mid-way: a failed write, reported.
    ScratchFolder folder;
    const std::string seq(512 * 1024, '\x1c');
    writeBytes(folder / "in.seq", seq);
    ASSERT_EQ(::mkfifo((folder / "drain").c_str(), 0600), 0);

    auto run = startKalmora({"-i=in.seq", "-o=drain", "-d=txt"}, folder.path());
    const int fifo = ::open((folder / "drain").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fifo, 0);
    char chunk[4096];
    ASSERT_GT(::read(fifo, chunk, sizeof chunk), 0);
    ::close(fifo);
    const ProcessResult result = run.get();
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.output, progress("in.seq", "drain", "TXT") + "Could not write drain. [32]");
    EXPECT_EQ(stateOf(folder.path()), (FolderState{{"in.seq", file(seq)}, {"drain", "fifo"}}));
}

TEST(Hostile, EveryRunEndsWithTheOldOutputOrOneCompleteConversion)
{
    const std::string converted = "{CLEAR}{WHITE}hi\n{193}{0}{255}";
    const struct {
        std::vector<std::string> faults;
        std::string limit;
        std::string streams;
        std::string input;
        std::string output;
        std::string message;  // after the progress line
        int status;
        std::optional<std::string> outputAfter;  // none: every file as it was
        std::string library = FAULT_SHIM;
        FolderState alsoAfter = {};
    } cases[] = {
        // A failed write, a failed read half-way, a caught signal: the old contents, or no file.
        {{"KALMORA_FAULT_WRITE=28"}, "", "", "in.seq", "old.txt", "Could not write old.txt. [28]", 1, {}},
        {{"KALMORA_FAULT_WRITE=28"}, "", "", "in.seq", "new.txt", "Could not write new.txt. [28]", 1, {}},
        {{"KALMORA_FAULT_READ=75"}, "", "", "in.seq", "old.txt", "Could not read in.seq. [75]", 1, {}},
        {{"KALMORA_FAULT_READ=75"}, "", "", "in.seq", "new.txt", "Could not read in.seq. [75]", 1, {}},
        {{"KALMORA_FAULT_CLOSE=5"}, "", "", "in.seq", "old.txt", "Could not write old.txt. [5]", 1, {}},
        {{}, "ulimit -f 0", "", "in.seq", "old.txt", "Could not write old.txt. [27]", 1, {}},
        {{"KALMORA_FAULT_SIGNAL=2", "KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "new.txt", "", 130, {}},
        {{"KALMORA_FAULT_SIGNAL=15", "KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "old.txt", "", 143, {}},
        {{"KALMORA_FAULT_SIGNAL=1", "KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "old.txt", "", 129, {}},
        // Every signal that would end the run ends it by that signal (unless ignored), leaving nothing.
        {{"KALMORA_FAULT_SIGNAL=10", "KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "new.txt", "", 138, {}},
        {{"KALMORA_FAULT_SIGNAL=24", "KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "old.txt", "", 152, {}},
        {{"KALMORA_FAULT_LOCKSIGNAL=15"}, "", "", "in.seq", "new.txt", "", 143, {}},
        {{"KALMORA_FAULT_LOCKSIGNAL=15", "KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "new.txt", "", 143, {}},
        {{"KALMORA_FAULT_CLOSESIGNAL=9"}, "", "", "in.seq", "old.txt", "", 137, {}},
        {{"KALMORA_FAULT_SIGNAL=10"}, "trap '' USR1", "", "in.seq", "old.txt", "", 0, converted},
        // A file another program put under the output's name is not ours to remove.
        {{"KALMORA_FAULT_RENAME=m>new.txt", "KALMORA_FAULT_SIGNAL=15"}, "echo m >m", "", "in.seq", "new.txt", "", 143, "m\n"},
        {{"KALMORA_FAULT_RENAME=m>new.txt", "KALMORA_FAULT_WRITE=28"}, "echo m >m", "", "in.seq", "new.txt",
         "Could not write new.txt. [28]", 1, "m\n"},
        // The folder the run started in, renamed meanwhile, is where the output goes.
        {{"KALMORA_FAULT_RENAME=f>moved"}, "mkdir f", "", "in.seq", "f/o.txt", "", 0, {}, FAULT_SHIM,
         {{"f", "folder"}, {"moved", "folder"}, {"moved/o.txt", file(converted)}}},
        {{"KALMORA_FAULT_FSTAT=5"}, "", "", "in.seq", "new.txt", "Could not open new.txt for writing. [5]", 1, {}},
        {{"KALMORA_FAULT_FCHMOD=1"}, "umask 077", "", "in.seq", "old.txt", "Could not write old.txt. [1]", 1, {}},
        {{"KALMORA_FAULT_FCHMOD=1"}, "", "", "in.seq", "old.txt", "", 0, converted},
        {{"KALMORA_FAULT_LOCK=nolock"}, "", "", "in.seq", "old.txt", "", 0, converted},
        // Several blocks: a write failure beats a later block's read failure, and one thread will do.
        {{"KALMORA_FAULT_READ=75", "KALMORA_FAULT_WRITE=28", "KALMORA_FAULT_THREAD=-1"}, "", "", "big.seq", "old.txt",
         "Could not write old.txt. [28]", 1, {}},
        {{"KALMORA_FAULT_THREAD=11"}, "", "", "big.seq", "old.txt", "", 0, std::string(200000, 'a')},
        {{"KALMORA_FAULT_MEMORY=32768"}, "", "", "in.seq", "old.txt", "Could not allocate memory. [12]", 1, {},
         FAULT_MEMORY},
        // With every lock granted, the output that is the input is still refused.
        {{"KALMORA_FAULT_LOCK=pass"}, "", "", "in.seq", "in.seq", "Could not open in.seq for writing. [13]", 1, {}},
        {{"KALMORA_FAULT_UNNAMED=95"}, "", "", "in.seq", "old.txt", "", 0, converted},
        // A placeholder is held before it has the name, so a refused hold leaves nothing.
        {{"KALMORA_FAULT_LOCK=refuse"}, "", "", "in.seq", "new.txt", "Could not open new.txt for writing. [13]", 1, {}},
        // A folder that takes no new file: written in place, and a message never lands in it.
        {{"KALMORA_FAULT_CREATE=13"}, "", "", "in.seq", "old.txt", "", 0, converted},
        {{"KALMORA_FAULT_CREATE=13"}, "", "<&- >&-", "/proc/self/mem", "old.txt", "", 1, ""},
        {{"KALMORA_FAULT_CREATE=13", "KALMORA_FAULT_NULL=2"}, "", "<&- >&-", "/proc/self/mem", "old.txt", "", 1, ""},
    };
    // A signal ignored by whoever started the test (a background job of a
    // script ignores SIGINT) would stay ignored in kalmora too.
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
        std::signal(signalNumber, SIG_DFL);
    for (const auto& sample : cases) {
        const std::string label = sample.faults.empty() ? sample.limit : sample.faults.front();
#ifdef KALMORA_SANITIZED
        if (sample.library == FAULT_MEMORY)
            continue;  // the sanitizer's allocator cannot be made to fail this way
#endif
        ScratchFolder folder;
        writeBytes(folder / "in.seq", sampleSeq);
        writeBytes(folder / "old.txt", "old contents");
        writeBytes(folder / "big.seq", std::string(200000, '\x41'));
        FolderState after = stateOf(folder.path());
        if (sample.outputAfter)
            after[sample.output] = file(*sample.outputAfter);
        after.insert(sample.alsoAfter.begin(), sample.alsoAfter.end());
        const std::string console = sample.streams.empty() ? progress(sample.input, sample.output, "TXT") + sample.message : "";
        expectResult(runWithFaults(folder.path(), sample.faults, {"-i=" + sample.input, "-o=" + sample.output, "-d=txt"},
                                   sample.limit, sample.streams, sample.library),
                     folder, console, sample.status, after, label + " into " + sample.output);
    }
}

TEST(Hostile, RunsRacingForOneOutputLeaveOneCompleteConversion)
{
    // The first run opens the output (making it, if new), then waits before
    // it takes its hold, while a second run converts into that same file.
    const struct {
        std::optional<std::string> old;
        std::vector<std::string> firstFaults;
    } cases[] = {
        {{}, {"KALMORA_FAULT_PAUSE=pause"}},
        // The first run writes in place: into the file that has the name by then.
        {"old contents", {"KALMORA_FAULT_PAUSE=pause", "KALMORA_FAULT_CREATE=13"}},
    };
    for (const auto& sample : cases) {
        ScratchFolder folder;
        writeBytes(folder / "long.seq", std::string(100, '\x93'));
        writeBytes(folder / "short.seq", "\x1c");
        if (sample.old)
            writeBytes(folder / "out.txt", *sample.old);
        ASSERT_EQ(::mkfifo((folder / "pause").c_str(), 0600), 0);
        auto first = std::async(std::launch::async, [&folder, &sample] {
            return runWithFaults(folder.path(), sample.firstFaults, {"-i=short.seq", "-o=out.txt", "-d=txt"});
        });
        const int pause = openFifoForWriting(folder / "pause");
        ASSERT_GE(pause, 0);
        std::string longText;
        for (int i = 0; i < 100; ++i)
            longText += "{CLEAR}";
        FolderState after = {{"long.seq", file(std::string(100, '\x93'))}, {"short.seq", file("\x1c")}, {"pause", "fifo"}};
        after["out.txt"] = file(longText);
        expectRun(folder, {"-i=long.seq", "-o=out.txt", "-d=txt"}, progress("long.seq", "out.txt", "TXT"), 0, after,
                  "second run");

        writeAll(pause, "x");
        ::close(pause);
        after["out.txt"] = file("{RED}");
        expectResult(first.get(), folder, progress("short.seq", "out.txt", "TXT"), 0, after, "first run");
    }
}

TEST(Hostile, RunsRacingForANewOutputThatAllFailLeaveNoFile)
{
    // The first run waits before it takes its hold, the second once it has its own; both fail.
    // Neither may take the other's placeholder for an existing output and leave it behind.
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    ASSERT_EQ(::mkfifo((folder / "first").c_str(), 0600), 0);
    ASSERT_EQ(::mkfifo((folder / "second").c_str(), 0600), 0);
    const auto start = [&folder](const std::string& pause) {
        return std::async(std::launch::async, [&folder, pause] {
            return runWithFaults(folder.path(), {pause, "KALMORA_FAULT_READ=75"}, {"-i=in.seq", "-o=out.txt", "-d=txt"});
        });
    };
    auto first = start("KALMORA_FAULT_PAUSE=first");
    const int firstPause = openFifoForWriting(folder / "first");
    auto second = start("KALMORA_FAULT_HELD=second");
    const int secondPause = openFifoForWriting(folder / "second");
    ASSERT_TRUE(firstPause >= 0 && secondPause >= 0);
    const FolderState after = {{"in.seq", file(sampleSeq)}, {"first", "fifo"}, {"second", "fifo"}};
    for (auto [pause, run] : {std::pair{firstPause, &first}, std::pair{secondPause, &second}}) {
        writeAll(pause, "x");
        ::close(pause);
        expectResult(run->get(), folder, progress("in.seq", "out.txt", "TXT") + "Could not read in.seq. [75]", 1,
                     after, pause == firstPause ? "first run" : "second run");
    }
}

TEST(Hostile, DevicesAreNeitherHeldNorComparedWithTheInput)
{
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    // As if another run were writing to the null device.
    const HeldLock lock("/dev/null", LOCK_EX);
    for (const std::string input : {"in.seq", "/dev/null"})
        expectRun(folder, {"-i=" + input, "-o=/dev/null", "-d=txt"}, progress(input, "/dev/null", "TXT"), 0,
                  {{"in.seq", file(sampleSeq)}}, input);
}

TEST(Hostile, ReplacedOutputKeepsItsLinkModeAndOwner)
{
    // Writing clears set-user-ID bits unless the writer may keep them (CAP_FSETID),
    // which root gives up here; as root, owner and group differ, so a swap shows.
    const bool root = ::geteuid() == 0;
    const struct {
        std::string link;
        std::string pointsTo;  // from the link's own folder
        mode_t mode;
    } cases[] = {
        {"link.txt", "real/out.txt", 0640},
        {"sub/link.txt", "target.txt", 07755},
    };
    for (const auto& sample : cases) {
        ScratchFolder folder;
        writeBytes(folder / "in.seq", sampleSeq);
        const std::string target = (fs::path(sample.link).parent_path() / sample.pointsTo).string();
        fs::create_directories((folder / target).parent_path());
        writeBytes(folder / target, "old contents");
        ASSERT_TRUE(!root || ::chown((folder / target).c_str(), 1, ::getegid()) == 0);
        ASSERT_EQ(::chmod((folder / target).c_str(), sample.mode), 0);
        fs::create_symlink(sample.pointsTo, folder / sample.link);
        FolderState after = stateOf(folder.path());
        after[target] = file("{CLEAR}{WHITE}hi\n{193}{0}{255}");
        const std::vector<std::string> arguments{"--bounding-set=-fsetid", "--inh-caps=-fsetid", KALMORA_EXECUTABLE,
                                                 "-i=in.seq", "-o=" + sample.link, "-d=txt"};
        expectResult(root ? runProcess("/usr/bin/setpriv", arguments, folder.path())
                          : runKalmora({arguments.begin() + 3, arguments.end()}, folder.path()),
                     folder, progress("in.seq", sample.link, "TXT"), 0, after, sample.link);
        struct stat status {};
        ASSERT_EQ(::stat((folder / target).c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, sample.mode) << sample.link;
        EXPECT_EQ(status.st_uid, root ? 1 : ::getuid()) << sample.link;
        EXPECT_EQ(status.st_gid, ::getegid()) << sample.link;
    }
}

// Runs `script` in a shell, where `kalmora` runs the program (behind any KALMORA_WRAPPER) with `arguments`.
const std::string kalmora = "${KALMORA_WRAPPER:-} \"$0\" \"$@\" ";
ProcessResult runInShell(const ScratchFolder& folder, const std::string& script, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), {"-c", script, KALMORA_EXECUTABLE});
    return runProcess("/bin/sh", arguments, folder.path());
}

TEST(Hostile, DescriptorsAreWrittenAsTheShellOpenedThem)
{
    ScratchFolder folder;
    writeBytes(folder / "in.seq", sampleSeq);
    // A file opened with ">>" was replaced by the conversion alone, and where
    // its path was longer than 64 bytes the run failed with [36].
    const std::string log(80, 'l');
    writeBytes(folder / log, "old\n");
    ProcessResult result = runInShell(folder, kalmora + ">>" + log, {"-i=in.seq", "-o=/dev/stdout", "-d=txt"});
    EXPECT_EQ(result.errors, progress("in.seq", "/dev/stdout", "TXT"));
    EXPECT_EQ(readBytes(folder / log), "old\n{CLEAR}{WHITE}hi\n{193}{0}{255}");
    // A removed file, still open, got a new file "gone (deleted)" beside it (here through a link of ours).
    const std::string script = "exec 3<>gone; rm gone; ln -s /dev/fd/3 link; " + kalmora + "&& cat /dev/fd/3";
    result = runInShell(folder, script, {"-i=in.seq", "-o=link", "-d=txt"});
    EXPECT_EQ(result.output, progress("in.seq", "link", "TXT") + "{CLEAR}{WHITE}hi\n{193}{0}{255}");
    EXPECT_EQ(stateOf(folder.path()).size(), 3u);
    // Standard output closed (a checker in front would take its number for its log), and a reader that leaves.
    if (std::getenv("KALMORA_WRAPPER") == nullptr) {
        result = runInShell(folder, kalmora + ">&-", {"-i=in.seq", "-o=-", "-d=txt"});
        EXPECT_EQ(result.errors, progress("in.seq", "-", "TXT") + "Could not open - for writing. [9]");
    }
    writeBytes(folder / "in.seq", std::string(1 << 20, '\x93'));
    // The pipe's status is head's: the shell echoes kalmora's after its message.
    const std::string reader = "{ " + kalmora + "; echo \" $?\" >&2; } | head -c 10";
    result = runInShell(folder, reader, {"-i=in.seq", "-o=-", "-d=txt"});
    EXPECT_EQ(result.errors, progress("in.seq", "-", "TXT") + "Could not write -. [32] 1\n");
    EXPECT_EQ(result.output, "{CLEAR}{CL");
}
