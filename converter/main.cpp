#include "main.h"

#include "block_pump.h"
#include "conversion.h"
#include "disk_image.h"
#include "option_parser.h"
#include "platform.h"
#include "screen_writer.h"
#include "terminal_writer.h"
#include "utf8.h"

#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

namespace {

enum OptionId : std::int32_t {
    ID_HELP = 0,
    ID_INPUT = 1,
    ID_OUTPUT = 2,
    ID_DIRECTION = 3,
    ID_VERSION = 4,
    ID_LIVE = 5,
    ID_BAUD = 6,
    ID_CHARSET = 7,
};

}  // namespace

// Row order matters only for abbreviations; "--help" and "--version" differ
// in their first letter, so any shortening of either is one of them.
constexpr OptionDef optionTable[] = {
    {ID_DIRECTION, L"-d", ARG_JOINED},
    {ID_INPUT, L"-i", ARG_JOINED},
    {ID_OUTPUT, L"-o", ARG_JOINED},
    {ID_HELP, L"-?", ARG_NONE},
    {ID_HELP, L"--help", ARG_NONE},
    {ID_VERSION, L"--version", ARG_NONE},
    {ID_LIVE, L"--live", ARG_NONE},
    {ID_BAUD, L"--baud", ARG_JOINED},
    {ID_CHARSET, L"--charset", ARG_JOINED},
    {-1, nullptr, ARG_NONE},
};

namespace {

constexpr std::size_t maxNameLength = 256;
// Where wide strings are UTF-16, a character may take two units.
constexpr std::size_t maxNameUnits = 2 * maxNameLength;

// Counts characters, a surrogate pair as one.
std::size_t characterCount(std::wstring_view text)
{
    std::size_t count = 0;
    for (std::size_t i = 0; i < text.size(); ++i, ++count) {
        const auto unit = static_cast<std::uint32_t>(text[i]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
            static_cast<std::uint32_t>(text[i + 1]) >= 0xDC00 && static_cast<std::uint32_t>(text[i + 1]) <= 0xDFFF)
            ++i;
    }
    return count;
}

// Every text the program prints. "%s" and "%u" mark where a name, a value or
// an error number goes.
constexpr std::wstring_view usageLine = L"Usage: Kalmora -i=infile -o=outfile -d=(seq|txt)\n";
constexpr std::wstring_view versionLine = L"Kalmora " KALMORA_VERSION L"\n";
constexpr std::wstring_view invalidArgument = L"Invalid argument: %s\n";
constexpr std::wstring_view invalidDirection = L"Invalid direction. %s";
constexpr std::wstring_view nameTooLong = L"File name too long: %s\n";
constexpr std::wstring_view processing = L"Processing %s to %s as %s\n\n";
constexpr std::wstring_view cannotOpenInput = L"Could not open %s for reading. [%u]";
constexpr std::wstring_view cannotOpenOutput = L"Could not open %s for writing. [%u]";
constexpr std::wstring_view cannotRead = L"Could not read %s. [%u]";
constexpr std::wstring_view cannotWrite = L"Could not write %s. [%u]";
constexpr std::wstring_view cannotAllocate = L"Could not allocate memory. [%u]";

// Prints `format` with each "%s" replaced by the next of `texts` and "%u" by `number`.
void print(std::wstring_view format, std::initializer_list<std::wstring_view> texts, unsigned number = 0)
{
    std::wstring message;
    auto nextText = texts.begin();
    for (std::size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L's' && nextText != texts.end()) {
            message += *nextText++;
            ++i;
        } else if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L'u') {
            message += std::to_wstring(number);
            ++i;
        } else {
            message += format[i];
        }
    }
    platform::writeConsole(message);
}

std::wstring_view orEmpty(const wchar_t* text)
{
    return text != nullptr ? std::wstring_view(text) : std::wstring_view();
}

constexpr std::size_t blockSize = 64 * 1024;

}  // namespace

std::unique_ptr<BlockConverter> makeConverter(wchar_t direction, bool lowerCase)
{
    if (direction == 't')
        return makeSeqToTextBlocks();
    if (direction == 'a')
        return makeAnsiScreen(lowerCase);
    return makeTextToSeqBlocks();
}

namespace {

// The options of the screen direction, as given: each keeps the argument as
// typed for its message. A value that is no value of the option is kept
// as the run's first fault, whatever comes later.
struct ScreenOptions {
    std::wstring live;     // "--live" as typed, when given
    std::wstring baud;     // the last good "--baud=N", as typed
    std::wstring charset;  // the last good "--charset=SET", as typed
    std::wstring fault;    // the first bad value, as typed
    std::uint32_t pace = 2400;  // bits a second; 0 for no pacing
    bool lowerCase = false;

    void take(int id, std::wstring_view value, const std::wstring& typed);
};

constexpr std::uint32_t fastestPace = 4000000;

// The whole number `text` (digits only) if it is at most `largest`.
bool readNumber(std::wstring_view text, std::uint32_t largest, std::uint32_t& number)
{
    std::uint64_t value = 0;
    for (const wchar_t digit : text) {
        if (digit < L'0' || digit > L'9')
            return false;
        value = value * 10 + static_cast<std::uint64_t>(digit - L'0');
        if (value > largest)
            return false;
    }
    number = static_cast<std::uint32_t>(value);
    return !text.empty();
}

void ScreenOptions::take(int id, std::wstring_view value, const std::wstring& typed)
{
    if (id == ID_LIVE) {
        live = typed;
    } else if (id == ID_CHARSET && (value == L"upper" || value == L"lower")) {
        charset = typed;
        lowerCase = value == L"lower";
    } else if (id == ID_BAUD && readNumber(value, fastestPace, pace)) {
        baud = typed;
    } else if (fault.empty()) {
        fault = typed;
    }
}

// Whether the screen options go with `direction`; prints the first that
// does not if one does not. Each needs the screen direction, and a pace a
// live screen.
bool checkScreenOptions(const ScreenOptions& options, wchar_t direction)
{
    const bool screen = direction == 'a';
    const std::wstring* fault = nullptr;
    if (!options.live.empty() && !screen)
        fault = &options.live;
    else if (!options.baud.empty() && (!screen || options.live.empty()))
        fault = &options.baud;
    else if (!options.charset.empty() && !screen)
        fault = &options.charset;
    if (fault != nullptr)
        print(invalidArgument, {*fault});
    return fault == nullptr;
}

// The converter and its buffers, made before either file is opened, so that
// memory running out costs nothing the user had.
struct Buffers {
    Buffers(wchar_t direction, bool lowerCase)
        : converter(makeConverter(direction, lowerCase)), pump(*converter, blockSize)
    {
    }
    std::unique_ptr<BlockConverter> converter;
    BlockPump pump;
};

// Closes the input however the run ends.
struct OpenInput {
    int file;
    ~OpenInput()
    {
        unsigned ignored = 0;
        if (file >= 0)
            platform::closeFile(file, ignored);
    }
};

// Whatever ends the run before the output is committed drops what was
// written, so the old contents stay.
class PendingOutput {
public:
    explicit PendingOutput(int file) : m_file(file) {}
    ~PendingOutput()
    {
        if (m_pending)
            platform::discardOutput(m_file);
    }
    PendingOutput(const PendingOutput&) = delete;
    PendingOutput& operator=(const PendingOutput&) = delete;
    bool commit(unsigned& error)
    {
        m_pending = false;
        return platform::commitOutput(m_file, error);
    }

private:
    int m_file;
    bool m_pending = true;
};

// For an input name that opens as no file: when the part before its last ":"
// is a disk image, opens the file the rest names on it into `image`. Returns
// the image's descriptor, or -1 with `error` set: 2 when nothing on the image
// matches, 13 when the name is missing and the image is refused (held by a
// writer, or not ours to read), and otherwise left as the whole name's.
int openOnImage(const wchar_t* inputFile, ImageInput& image, unsigned& error)
{
    const std::wstring_view whole(inputFile);
    const std::size_t colon = whole.rfind(L':');
    if (colon == std::wstring_view::npos)
        return -1;
    const std::wstring imageFile(whole.substr(0, colon));
    unsigned imageError = 0;
    const int file = platform::openInput(imageFile.c_str(), imageError);
    if (file < 0) {
        if (error == ENOENT && imageError == EACCES)
            error = EACCES;
        return -1;
    }
    unsigned ignored = 0;
    const ImageInput::Opened opened = image.open(file, bytesFromWide(whole.substr(colon + 1)));
    if (opened == ImageInput::Opened::opened)
        return file;
    if (opened == ImageInput::Opened::notFound)
        error = ENOENT;
    platform::closeFile(file, ignored);
    return -1;
}

// Runs the chosen conversion from `infile` to `outfile`. Returns 0, or 1
// after printing which file failed.
int convert(Buffers& buffers, InputSource& infile, const wchar_t* inputFile, int outfile, const wchar_t* outputFile)
{
    const PumpResult result = buffers.pump.run(infile, outfile);
    if (result.failure == PumpResult::Failure::reading)
        print(cannotRead, {inputFile}, result.error);
    else if (result.failure == PumpResult::Failure::writing)
        print(cannotWrite, {outputFile}, result.error);
    return result.failure == PumpResult::Failure::none ? 0 : 1;
}

// Plays the input on the output as it arrives. Returns 0 or 1 as `convert`;
// a run that a signal asked to end ends by that signal once the output is done.
int playLive(LivePlayer& player, InputSource& infile, const wchar_t* inputFile, int outfile,
             const wchar_t* outputFile, PendingOutput& pending)
{
    LiveResult result;
    {
        const std::unique_ptr<LiveConsole> console = makeSystemConsole(outfile);
        result = player.play(infile, *console);
    }
    unsigned error = result.failure.error;
    int status = 0;
    if (result.failure.failure == PumpResult::Failure::reading) {
        print(cannotRead, {inputFile}, error);
        status = 1;
    } else if (result.failure.failure == PumpResult::Failure::writing) {
        print(cannotWrite, {outputFile}, error);
        status = 1;
    }
    // Only a terminal catches signals, and a terminal is written directly:
    // nothing waits to be put in place.
    if (result.signal != 0) {
        pending.commit(error);
        platform::endBySignal(result.signal);
    }
    if (status == 0 && !pending.commit(error)) {
        print(cannotWrite, {outputFile}, error);
        status = 1;
    }
    return status;
}

int run(int argc, wchar_t* argv[])
{
    wchar_t inputFile[maxNameUnits + 1] = {};
    wchar_t outputFile[maxNameUnits + 1] = {};
    wchar_t direction = 0;
    ScreenOptions screenOptions;
    // The parser edits the arguments in place; messages show them as typed.
    const std::vector<std::wstring> typed(argv, argv + argc);
    int nextArgument = 1;
    COptionParser args(argc, argv, optionTable);

    while (args.NextOption()) {
        if (args.ErrorCode() != OPT_OK) {
            print(invalidArgument, {orEmpty(args.CurrentText())});
            return 1;
        }
        const std::wstring_view value = orEmpty(args.CurrentValue());
        // The option came from the first argument since the last one that
        // reads as an option: the parser skips every other.
        while (nextArgument + 1 < argc && argv[nextArgument][0] != L'-')
            ++nextArgument;
        const std::wstring& typedNow = typed[static_cast<std::size_t>(nextArgument++)];
        switch (args.CurrentId()) {
        case ID_HELP:
            platform::writeConsole(usageLine);
            return 0;
        case ID_VERSION:
            platform::writeConsole(versionLine);
            return 0;
        case ID_INPUT:
        case ID_OUTPUT: {
            // A shortened name could overwrite some other file.
            if (characterCount(value) > maxNameLength) {
                print(nameTooLong, {value});
                return 1;
            }
            wchar_t* name = args.CurrentId() == ID_INPUT ? inputFile : outputFile;
            std::wmemset(name, 0, maxNameUnits + 1);
            value.copy(name, value.size());
            break;
        }
        case ID_DIRECTION:
            if (value == L"seq") {
                direction = 's';
            } else if (value == L"txt") {
                direction = 't';
            } else if (value == L"ansi") {
                direction = 'a';
            } else {
                print(invalidDirection, {value});
                platform::writeConsole(usageLine);
                return 1;
            }
            break;
        case ID_LIVE:
        case ID_BAUD:
        case ID_CHARSET:
            screenOptions.take(args.CurrentId(), value, typedNow);
            break;
        default:
            break;
        }
    }
    if (!screenOptions.fault.empty()) {
        print(invalidArgument, {screenOptions.fault});
        return 1;
    }
    if (direction == 0) {
        platform::writeConsole(usageLine);
        return 0;
    }
    if (!checkScreenOptions(screenOptions, direction))
        return 1;
    const bool live = !screenOptions.live.empty();
    // The live screen goes to standard output unless told otherwise.
    if (live && outputFile[0] == 0)
        outputFile[0] = L'-';

    // Data on standard output leaves no room there for messages, the
    // progress line included.
    if (platform::isStandardOutput(outputFile))
        platform::sendMessagesToStandardError();
    print(processing, {inputFile, outputFile, direction == 's' ? L"SEQ" : direction == 't' ? L"TXT" : L"ANSI"});
    std::unique_ptr<Buffers> buffers;
    std::unique_ptr<LivePlayer> player;
    if (live)
        player = std::make_unique<LivePlayer>(LiveSettings{screenOptions.pace, screenOptions.lowerCase});
    else
        buffers = std::make_unique<Buffers>(direction, screenOptions.lowerCase);
    unsigned error = 0;
    // A name that opens as a file is that file, whatever its name; only
    // otherwise may it be IMAGE:NAME.
    ImageInput image;
    OpenInput infile{platform::openInput(inputFile, error)};
    if (infile.file < 0)
        infile.file = openOnImage(inputFile, image, error);
    if (infile.file < 0) {
        print(cannotOpenInput, {inputFile}, error);
        return 1;
    }
    const int outfile = platform::openOutput(outputFile, infile.file, error);
    if (outfile < 0) {
        print(cannotOpenOutput, {outputFile}, error);
        return 1;
    }
    PendingOutput pending(outfile);
    FileSource file(infile.file);
    InputSource& source = image.isOpen() ? static_cast<InputSource&>(image) : file;
    if (live)
        return playLive(*player, source, inputFile, outfile, outputFile, pending);
    if (convert(*buffers, source, inputFile, outfile, outputFile) != 0)
        return 1;
    // Data the system kept back may fail only now; that is a failed write too.
    if (!pending.commit(error)) {
        print(cannotWrite, {outputFile}, error);
        return 1;
    }
    return 0;
}

}  // namespace

int kalmoraMain(int argc, wchar_t* argv[])
{
    try {
        return run(argc, argv);
    } catch (const std::bad_alloc&) {
        return reportOutOfMemory();
    }
}

int reportOutOfMemory()
{
    try {
        print(cannotAllocate, {}, ENOMEM);
    } catch (const std::bad_alloc&) {
        // Not even the message fits; the exit status still tells.
    }
    return 1;
}
