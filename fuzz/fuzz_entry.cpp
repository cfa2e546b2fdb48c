// The entry function on arbitrary argument vectors, run in a scratch folder
// with the console captured. The input's first byte is the length of the
// content given to the prepared files; the rest, split at NUL bytes, is the
// argument vector. A "/" after an argument's first character becomes "_", so
// every name stays inside the scratch folder (".." only names a folder, which
// cannot be opened for writing or read as a file).
//
// Left to other targets and tests: a live screen (paced, and played by the
// terminal writer's own tests), the other dialect's tags, data on standard
// output, and a folder as the output (many files, and ".." is outside).
//
// Properties: no crash or sanitizer report; exit status 0 or 1; the console
// holds exactly one of the program's outcomes; a completed conversion wrote
// the right bytes (a rendered screen also keeps every rule of writing, rows
// ending with a line feed); the input is never changed; no descriptor is left
// open; nothing outside the scratch folder is touched.

#include "ansi_reader.h"
#include "conversion.h"
#include "fuzz_check.h"
#include "main.h"
#include "reference.h"
#include "utf8.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const std::string usage = "Usage: Kalmora -i=infile -o=outfile -d=(seq|txt)\n";

fs::path fence;    // holds only the scratch folder; must never change
fs::path scratch;  // the current folder while the entry function runs
struct timespec fenceTime {};
int console = -1;  // anonymous file standing in for standard output

struct timespec modificationTime(const fs::path& path)
{
    struct stat status {};
    FUZZ_CHECK(::lstat(path.c_str(), &status) == 0);
    return status.st_mtim;
}

std::string readFile(const fs::path& path)
{
    std::ifstream file(path, std::ios::binary);
    FUZZ_CHECK(file.good());
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// Whether the command line `arguments` asks for what this target leaves to
// others (see above), wherever it stands on the line.
bool leftToOthers(const std::vector<std::wstring>& arguments)
{
    std::vector<std::wstring> copies(arguments);
    std::vector<wchar_t*> argv;
    for (std::wstring& copy : copies)
        argv.push_back(copy.data());
    COptionParser scan(static_cast<int>(argv.size()), argv.data(), optionTable);
    std::wstring output;
    while (scan.NextOption()) {
        if (scan.ErrorCode() != OPT_OK)
            continue;
        const std::wstring_view option = scan.CurrentText();
        const std::wstring_view value = scan.CurrentValue() != nullptr ? scan.CurrentValue() : L"";
        if (option == L"--live" || (option == L"--tags" && value == L"petcat"))
            return true;
        if (option == L"-o")
            output = value;
    }
    std::error_code ignored;
    return output == L"-" || (!output.empty() && fs::is_directory(scratch / bytesFromWide(output), ignored));
}

void writeFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    FUZZ_CHECK(file.flush().good());
}

int lowestFreeDescriptor()
{
    const int probe = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    FUZZ_CHECK(probe >= 0);
    ::close(probe);
    return probe;
}

std::string seqToTextOf(const std::string& seq)
{
    std::vector<char> text(seqToTextCapacity(seq.size()));
    return std::string(text.data(),
                       seqToText(reinterpret_cast<const std::uint8_t*>(seq.data()), seq.size(), text.data()));
}

// The screen of `seq` rendered in memory in one block.
std::string screenOf(const std::string& seq)
{
    const std::unique_ptr<BlockConverter> screen = makeConverter('a');
    std::vector<char> output(screen->outputRoom(seq.size()));
    std::string written;
    for (std::size_t done = 0; done < seq.size();) {
        const BlockStep step = screen->convert(seq.data() + done, seq.size() - done, output.data(), output.size());
        FUZZ_CHECK(step.consumed > 0 && step.produced <= output.size());
        written.append(output.data(), step.produced);
        done += step.consumed;
    }
    return written.append(output.data(), screen->finish(output.data(), output.size()));
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    std::string pattern = (fs::temp_directory_path() / "kalmora-fuzz-XXXXXX").string();
    FUZZ_CHECK(::mkdtemp(pattern.data()) != nullptr);
    fence = pattern;
    scratch = fence / "work";
    fs::create_directory(scratch);
    fenceTime = modificationTime(fence);
    console = ::memfd_create("console", MFD_CLOEXEC);
    FUZZ_CHECK(console >= 0);
    std::atexit([] {
        std::error_code ignored;
        fs::remove_all(fence, ignored);
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::size_t contentLength = std::min<std::size_t>(data[0], size - 1);
    const std::string content(reinterpret_cast<const char*>(data + 1), contentLength);

    std::vector<std::wstring> arguments{L"kalmora"};
    std::size_t start = 1 + contentLength;
    for (std::size_t i = start; i <= size && arguments.size() < 32; ++i) {
        if (i == size || data[i] == 0) {
            std::string argument(reinterpret_cast<const char*>(data + start), i - start);
            for (std::size_t at = 1; at < argument.size(); ++at)
                if (argument[at] == '/')
                    argument[at] = '_';
            arguments.push_back(wideFromBytes(argument));
            start = i + 1;
        }
    }
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    // A fresh folder: two files with the content, a folder, and a symbolic
    // and a hard link to the first file.
    for (const auto& entry : fs::directory_iterator(scratch))
        fs::remove_all(entry.path());
    writeFile(scratch / "a", content);
    writeFile(scratch / "b", content);
    fs::create_directory(scratch / "d");
    fs::create_symlink("a", scratch / "l");
    fs::create_hard_link(scratch / "a", scratch / "h");
    const std::map<std::string, std::string> prepared{{"a", content}, {"b", content}, {"l", content}, {"h", content}};
    if (leftToOthers(arguments))
        return 0;

    const fs::path home = fs::current_path();
    fs::current_path(scratch);
    const int freeBefore = lowestFreeDescriptor();
    const int savedOutput = ::dup(STDOUT_FILENO);
    FUZZ_CHECK(::ftruncate(console, 0) == 0 && ::lseek(console, 0, SEEK_SET) == 0);
    ::dup2(console, STDOUT_FILENO);
    const int status = kalmoraMain(static_cast<int>(arguments.size()), argv.data());
    ::dup2(savedOutput, STDOUT_FILENO);
    ::close(savedOutput);
    FUZZ_CHECK(lowestFreeDescriptor() == freeBefore);
    fs::current_path(home);

    std::string output(static_cast<std::size_t>(::lseek(console, 0, SEEK_END)), '\0');
    FUZZ_CHECK(::pread(console, output.data(), output.size(), 0) == static_cast<ssize_t>(output.size()));

    FUZZ_CHECK(status == 0 || status == 1);
    FUZZ_CHECK(modificationTime(fence).tv_sec == fenceTime.tv_sec &&
               modificationTime(fence).tv_nsec == fenceTime.tv_nsec);
    FUZZ_CHECK(std::distance(fs::directory_iterator(fence), fs::directory_iterator()) == 1);
    FUZZ_CHECK(fs::is_directory(scratch / "d"));

    // Nothing but a file the run named as output may differ afterwards; the
    // input is always intact.
    const bool processing = output.rfind("Processing ", 0) == 0;
    if (!processing) {
        const bool known = output == usage || output.rfind("Invalid argument: ", 0) == 0 ||
                           output.rfind("Invalid direction. ", 0) == 0 ||
                           output.rfind("File name too long: ", 0) == 0 ||
                           // a --font file that cannot be read, before the progress line
                           output.rfind("Could not open ", 0) == 0 || output.rfind("Could not read ", 0) == 0;
        FUZZ_CHECK(known);
        FUZZ_CHECK((status == 0) == (output == usage));
        for (const auto& [name, bytes] : prepared)
            FUZZ_CHECK(readFile(scratch / name) == bytes);
        FUZZ_CHECK(std::distance(fs::directory_iterator(scratch), fs::directory_iterator()) == 5);
        return 0;
    }

    if (status == 1) {
        // Here only an open can fail, and then nothing is created or emptied.
        FUZZ_CHECK(output.find("\n\nCould not open ") != std::string::npos);
        for (const auto& [name, bytes] : prepared)
            FUZZ_CHECK(readFile(scratch / name) == bytes);
        FUZZ_CHECK(std::distance(fs::directory_iterator(scratch), fs::directory_iterator()) == 5);
        return 0;
    }
    // A completed run printed the progress line only, and its input must be
    // one of the prepared files (nothing else can be read). Names may hold
    // " as TXT" themselves, so only the line's end tells the direction.
    const auto endsWith = [&output](const std::string& ending) {
        return output.size() > ending.size() && output.compare(output.size() - ending.size(), ending.size(), ending) == 0;
    };
    const bool toText = endsWith(" as TXT\n\n");
    const bool toScreen = endsWith(" as ANSI\n\n");
    const bool toPicture = endsWith(" as PNG\n\n");
    FUZZ_CHECK(toText || toScreen || toPicture || endsWith(" as SEQ\n\n"));
    const std::string ending =
        toText ? " as TXT\n\n" : toScreen ? " as ANSI\n\n" : toPicture ? " as PNG\n\n" : " as SEQ\n\n";
    std::string input;
    for (const auto& [name, bytes] : prepared)
        if (output.rfind("Processing " + name + " to ", 0) == 0)
            input = name;
    FUZZ_CHECK(!input.empty());
    const std::size_t nameStart = std::string("Processing ").size() + input.size() + std::string(" to ").size();
    const std::string outputName = output.substr(nameStart, output.size() - ending.size() - nameStart);
    FUZZ_CHECK(readFile(scratch / input) == content);
    if (toScreen) {
        const std::string written = readFile(scratch / outputName);
        std::string fault;
        if (!readAnsi(written, fault))
            std::fprintf(stderr, "Screen rule broken: %s\n", fault.c_str());
        FUZZ_CHECK(fault.empty());
        FUZZ_CHECK(written == screenOf(content));
        return 0;
    }
    if (toPicture) {
        FUZZ_CHECK(readFile(scratch / outputName).rfind("\x89PNG\r\n\x1a\n", 0) == 0);
        return 0;
    }
    const std::string expected = toText ? seqToTextOf(content) : referenceTextToSeq(content);
    FUZZ_CHECK(readFile(scratch / outputName) == expected);
    return 0;
}
