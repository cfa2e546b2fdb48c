#include "main.h"

#include "block_pump.h"
#include "conversion.h"
#include "disk_image.h"
#include "option_parser.h"
#include "output_names.h"
#include "petcat_dialect.h"
#include "platform.h"
#include "screen_picture.h"
#include "screen_writer.h"
#include "terminal_writer.h"
#include "utf8.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cwchar>
#include <functional>
#include <memory>
#include <new>
#include <span>
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
    ID_TAGS = 5,
    ID_CHARSET = 6,
    ID_BACKGROUND = 7,
    ID_BORDER = 8,
    ID_SCALE = 9,
    ID_FONT = 10,
    ID_LIVE = 11,
    ID_BAUD = 12,
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
    {ID_TAGS, L"--tags", ARG_JOINED},
    {ID_CHARSET, L"--charset", ARG_JOINED},
    {ID_BACKGROUND, L"--background", ARG_JOINED},
    {ID_BORDER, L"--border", ARG_JOINED},
    {ID_SCALE, L"--scale", ARG_JOINED},
    {ID_FONT, L"--font", ARG_JOINED},
    {ID_LIVE, L"--live", ARG_NONE},
    {ID_BAUD, L"--baud", ARG_JOINED},
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
constexpr std::wstring_view unknownTag = L"Unknown tag %s in %s, line %s.\n";

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

// The name of what `direction` writes, for the progress line.
const wchar_t* kindOf(wchar_t direction)
{
    return direction == 's' ? L"SEQ" : direction == 't' ? L"TXT" : direction == 'a' ? L"ANSI" : L"PNG";
}

}  // namespace

std::unique_ptr<BlockConverter> makeConverter(wchar_t direction, const ConverterSettings& settings)
{
    const bool petcat = settings.tags == Tags::petcat;
    if (direction == 't')
        return petcat ? makePetcatTextBlocks() : makeSeqToTextBlocks();
    if (direction == 'a')
        return makeAnsiScreen(settings.lowerCase);
    if (direction == 'p') {
        PictureSettings picture = settings.picture;
        picture.lowerCase = settings.lowerCase;
        return makeScreenPicture(picture);
    }
    return petcat ? makePetcatReaderBlocks() : makeTextToSeqBlocks();
}

namespace {

// The converter and its buffers, made before either file is opened, so that
// memory running out costs nothing the user had.
struct Buffers {
    Buffers(wchar_t direction, const ConverterSettings& settings)
        : converter(makeConverter(direction, settings)), pump(*converter, blockSize)
    {
    }
    std::unique_ptr<BlockConverter> converter;
    BlockPump pump;
};

// A converter that a fresh one replaces for each file of a run over many, so
// that no state passes from one file to the next while the pump's buffers,
// made once, serve them all.
class RenewedConverter final : public BlockConverter {
public:
    RenewedConverter(wchar_t direction, const ConverterSettings& settings)
        : m_direction(direction), m_settings(settings), m_converter(makeConverter(direction, settings))
    {
    }
    void renew() { m_converter = makeConverter(m_direction, m_settings); }
    std::size_t outputRoom(std::size_t size) const override { return m_converter->outputRoom(size); }
    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        return m_converter->convert(input, size, output, room);
    }
    std::size_t finish(char* output, std::size_t room) override { return m_converter->finish(output, room); }
    const ConversionFault* fault() const override { return m_converter->fault(); }
    bool outOfMemory() const override { return m_converter->outOfMemory(); }
    bool overlapsCopying() const override { return m_converter->overlapsCopying(); }

private:
    wchar_t m_direction;
    const ConverterSettings& m_settings;
    std::unique_ptr<BlockConverter> m_converter;
};

struct ManyBuffers {
    ManyBuffers(wchar_t direction, const ConverterSettings& settings)
        : converter(direction, settings), pump(converter, blockSize)
    {
    }
    RenewedConverter converter;
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

// An option beyond -i, -o and -d, as the command line gave it.
struct GivenOption {
    int id;
    std::wstring typed;  // the whole argument as typed, for its message
    std::wstring value;
};
using GivenOptions = std::vector<GivenOption>;

// A whole number from `low` to `high`, written in decimal digits alone, or -1.
int numberIn(std::wstring_view text, int low, int high)
{
    int number = 0;
    for (const wchar_t ch : text) {
        if (ch < L'0' || ch > L'9' || number > high)
            return -1;
        number = number * 10 + (ch - L'0');
    }
    return !text.empty() && number >= low && number <= high ? number : -1;
}

// What the options beyond -i, -o and -d ask of a run.
struct RunSettings {
    ConverterSettings converter;
    const GivenOption* font = nullptr;  // the last --font
    bool live = false;                  // --live
    std::uint32_t pace = 2400;          // --baud: bits a second, 0 for no pacing
};

// The fastest --baud.
constexpr int fastestPace = 4000000;

// Takes the options' values into `run`, a later one replacing an earlier.
// Returns false after printing the first that is no value of its option.
bool takeValues(const GivenOptions& given, RunSettings& run)
{
    ConverterSettings& settings = run.converter;
    for (const GivenOption& option : given) {
        const std::wstring_view value = option.value;
        const int colour = numberIn(value, 0, 15);
        bool good = true;
        switch (option.id) {
        case ID_TAGS:
            good = value == L"petcat" || value == L"kalmora";
            settings.tags = value == L"petcat" ? Tags::petcat : Tags::kalmora;
            break;
        case ID_CHARSET:
            good = value == L"upper" || value == L"lower";
            settings.lowerCase = value == L"lower";
            break;
        case ID_BACKGROUND:
        case ID_BORDER:
            good = colour >= 0;
            (option.id == ID_BACKGROUND ? settings.picture.background : settings.picture.border) =
                static_cast<std::uint8_t>(colour);
            break;
        case ID_SCALE: {
            const int scale = numberIn(value, 1, static_cast<int>(picture::maxScale));
            good = scale > 0;
            settings.picture.scale = static_cast<unsigned>(scale);
            break;
        }
        case ID_FONT:
            run.font = &option;
            break;
        case ID_LIVE:
            run.live = true;
            break;
        case ID_BAUD: {
            const int pace = numberIn(value, 0, fastestPace);
            good = pace >= 0;
            run.pace = static_cast<std::uint32_t>(pace);
            break;
        }
        default:
            break;
        }
        if (!good) {
            print(invalidArgument, {option.typed});
            return false;
        }
    }
    return true;
}

// Whether each option goes with `direction` (and a pace with a live
// screen). Returns false after printing the first that does not.
bool fitDirection(const GivenOptions& given, wchar_t direction, bool live)
{
    for (const GivenOption& option : given) {
        const bool fits = option.id == ID_TAGS      ? direction == 's' || direction == 't'
                          : option.id == ID_CHARSET ? direction == 'a' || direction == 'p'
                          : option.id == ID_LIVE    ? direction == 'a'
                          : option.id == ID_BAUD    ? direction == 'a' && live
                                                    : direction == 'p';
        if (!fits) {
            print(invalidArgument, {option.typed});
            return false;
        }
    }
    return true;
}

// Reads the character ROM image that `font` names into `settings`. Returns
// false after printing why it cannot be used.
bool readFont(const GivenOption& font, PictureSettings& settings)
{
    unsigned error = 0;
    const OpenInput file{platform::openInput(font.value.c_str(), error)};
    if (file.file < 0) {
        print(cannotOpenInput, {font.value}, error);
        return false;
    }
    // One byte more than a ROM image tells a longer file.
    std::vector<std::uint8_t>& bytes = settings.font;
    bytes.resize(picture::fontSize + 1);
    std::size_t size = 0;
    for (std::ptrdiff_t count = 1; count > 0 && size < bytes.size(); size += static_cast<std::size_t>(count)) {
        count = platform::readFile(file.file, bytes.data() + size, bytes.size() - size, error);
        if (count < 0) {
            print(cannotRead, {font.value}, error);
            return false;
        }
    }
    if (size != picture::fontSize) {
        print(invalidArgument, {font.typed});
        return false;
    }
    bytes.resize(picture::fontSize);
    return true;
}

// Prints which file the run's `result` says failed. Returns 0, or 1 when one did.
int reportFailure(const PumpResult& result, const wchar_t* inputFile, const wchar_t* outputFile)
{
    if (result.failure == PumpResult::Failure::reading)
        print(cannotRead, {inputFile}, result.error);
    else if (result.failure == PumpResult::Failure::writing)
        print(cannotWrite, {outputFile}, result.error);
    return result.failure == PumpResult::Failure::none ? 0 : 1;
}

// Runs the chosen conversion from `infile` to `outfile`. Returns 0, or 1
// after printing which file failed.
int convert(BlockPump& pump, InputSource& infile, const wchar_t* inputFile, int outfile, const wchar_t* outputFile)
{
    const PumpResult result = pump.run(infile, outfile);
    if (result.failure == PumpResult::Failure::none && pump.conversion().outOfMemory())
        return reportOutOfMemory();
    if (const ConversionFault* fault = pump.conversion().fault();
        result.failure == PumpResult::Failure::converting && fault != nullptr)
        print(unknownTag, {wideFromBytes(fault->tag), inputFile, std::to_wstring(fault->line)});
    return reportFailure(result, inputFile, outputFile);
}

// Opens `outputFile` for what is made of the open file `input`, and has
// `fill` write it (returning 0, or 1 after printing what failed). The output
// gets all of it or keeps its old contents. Returns 0, or 1 after printing
// which file failed.
int writeOutput(int input, const wchar_t* outputFile, const std::function<int(int, PendingOutput&)>& fill)
{
    unsigned error = 0;
    const int outfile = platform::openOutput(outputFile, input, error);
    if (outfile < 0) {
        print(cannotOpenOutput, {outputFile}, error);
        return 1;
    }
    PendingOutput pending(outfile);
    if (fill(outfile, pending) != 0)
        return 1;
    // Data the system kept back may fail only now; that is a failed write too.
    if (!pending.commit(error)) {
        print(cannotWrite, {outputFile}, error);
        return 1;
    }
    return 0;
}

// Whether the output the command line names (its last "-o", read as the
// option loop reads it, or none with --live) is standard output, which leaves no room there for
// any message, the usage line included.
bool outputIsStandardOutput(int argc, wchar_t* argv[])
{
    // The parser edits what it reads, and the option loop reads it afterwards.
    std::vector<std::wstring> copies(argv, argv + argc);
    std::vector<wchar_t*> pointers;
    for (std::wstring& copy : copies)
        pointers.push_back(copy.data());
    COptionParser scan(argc, pointers.data(), optionTable);
    std::wstring output;
    bool live = false;
    while (scan.NextOption()) {
        if (scan.ErrorCode() == OPT_OK && scan.CurrentId() == ID_OUTPUT)
            output = scan.CurrentValue();
        live = live || (scan.ErrorCode() == OPT_OK && scan.CurrentId() == ID_LIVE);
    }
    // The live screen goes to standard output unless told otherwise.
    return platform::isStandardOutput(output.empty() && live ? L"-" : output.c_str());
}

// `folder` and `name` joined into one path.
std::wstring inFolder(std::wstring_view folder, std::wstring_view name)
{
    const bool separated = folder.empty() || platform::isFolderSeparator(folder.back());
    return std::wstring(folder) + (separated ? L"" : L"/") + std::wstring(name);
}

// Converts `inputFile` into `outputFile` in a run of many, with its progress
// line: `source` reads it, or it is the file itself, already open as `input`
// unless that is -1. Returns 0, or 1 after the message for it.
int convertOneOfMany(ManyBuffers& buffers, const wchar_t* kind, const std::wstring& inputFile,
                     const std::wstring& outputFile, int input, InputSource* source)
{
    print(processing, {inputFile, outputFile, kind});
    buffers.converter.renew();
    unsigned error = 0;
    OpenInput opened{input >= 0 ? -1 : platform::openInput(inputFile.c_str(), error)};
    if (input < 0 && opened.file < 0) {
        print(cannotOpenInput, {inputFile}, error);
        return 1;
    }
    const int descriptor = input >= 0 ? input : opened.file;
    FileSource file(descriptor);
    return writeOutput(descriptor, outputFile.c_str(), [&](int outfile, PendingOutput&) {
        return convert(buffers.pump, source != nullptr ? *source : file, inputFile.c_str(), outfile, outputFile.c_str());
    });
}

// Converts every file that `inputFile` names (the files of a folder, one
// file, or the entries a pattern matches on a disk image) into a file of its
// own in `outputFolder`, made if need be. Returns 0, or 1 when any failed.
int convertToFolder(wchar_t direction, const ConverterSettings& settings, const wchar_t* inputFile,
                    const wchar_t* outputFolder)
{
    const wchar_t* kind = kindOf(direction);
    const std::wstring_view extension = direction == 's'   ? L".seq"
                                         : direction == 't' ? L".txt"
                                         : direction == 'a' ? L".ans"
                                                            : L".png";
    // Until the first file is known, a failure is reported as in a run of one file.
    const auto failBeforeFiles = [&](std::wstring_view message, const wchar_t* name, unsigned error) {
        print(processing, {inputFile, outputFolder, kind});
        print(message, {name}, error);
        return 1;
    };
    ManyBuffers buffers(direction, settings);
    unsigned error = 0;
    std::vector<std::wstring> files;
    const bool fromFolder = platform::isFolder(inputFile);
    if (fromFolder && !platform::listFiles(inputFile, files, error))
        return failBeforeFiles(cannotOpenInput, inputFile, error);
    ImageInput image;
    OpenInput single{fromFolder ? -1 : platform::openInput(inputFile, error)};
    if (!fromFolder && single.file < 0)
        single.file = openOnImage(inputFile, image, error);
    if (!fromFolder && single.file < 0)
        return failBeforeFiles(cannotOpenInput, inputFile, error);
    if (image.error() != 0)
        return failBeforeFiles(cannotRead, inputFile, image.error());
    if (fromFolder && files.empty())
        return 0;
    if (!platform::makeFolder(outputFolder, error))
        return failBeforeFiles(cannotOpenOutput, outputFolder, error);

    OutputNames names;
    int status = 0;
    const auto convertNext = [&](const std::wstring& input, std::wstring_view stem, InputSource* source) {
        const std::wstring output = inFolder(outputFolder, names.take(stem, extension));
        const int failed = convertOneOfMany(buffers, kind, input, output, single.file, source);
        // The next progress line starts a line of its own.
        if (failed != 0)
            platform::writeConsole(L"\n");
        status |= failed;
    };
    if (fromFolder) {
        for (const std::wstring& name : files)
            convertNext(inFolder(inputFile, name), fileOutputStem(name), nullptr);
    } else if (!image.isOpen()) {
        const std::wstring_view name(inputFile);
        const auto separator = std::find_if(name.rbegin(), name.rend(), platform::isFolderSeparator);
        convertNext(inputFile, fileOutputStem(name.substr(static_cast<std::size_t>(name.rend() - separator))), nullptr);
    } else {
        const std::wstring_view whole(inputFile);
        const std::wstring imageName(whole.substr(0, whole.rfind(L':') + 1));
        ImageReader& entries = image.found();
        do {
            // The entry's name as the listing shows it in text.
            const std::span<const std::uint8_t> codes = entries.entryName();
            std::string text(seqToTextCapacity(codes.size()), '\0');
            text.resize(seqToText(codes.data(), codes.size(), text.data()));
            const std::wstring name = wideFromBytes(text);
            convertNext(imageName + name, entryOutputStem(name), &image);
        } while (entries.nextMatch());
        if (entries.status() == ImageReader::Status::damaged) {
            print(cannotRead, {inputFile}, EIO);
            platform::writeConsole(L"\n");
            status = 1;
        }
    }
    return status;
}

// Plays `source` on `outfile` as it arrives. Returns 0, or 1 after printing
// which file failed; a run that a signal asked to end ends by that signal
// once what was written is in place.
int playLive(LivePlayer& player, InputSource& source, const wchar_t* inputFile, int outfile,
             const wchar_t* outputFile, PendingOutput& pending)
{
    LiveResult result;
    {
        const std::unique_ptr<LiveConsole> console = makeSystemConsole(outfile);
        result = player.play(source, *console);
    }
    const int status = reportFailure(result.failure, inputFile, outputFile);
    // Only a terminal catches signals, and a terminal is written directly:
    // nothing waits to be put in place.
    if (result.signal != 0) {
        unsigned ignored = 0;
        pending.commit(ignored);
        platform::endBySignal(result.signal);
    }
    return status;
}

int run(int argc, wchar_t* argv[])
{
    wchar_t inputFile[maxNameUnits + 1] = {};
    wchar_t outputFile[maxNameUnits + 1] = {};
    wchar_t direction = 0;
    // The parser edits the arguments in place; messages show them as typed.
    const std::vector<std::wstring> typed(argv, argv + argc);
    int nextArgument = 1;
    GivenOptions given;
    if (outputIsStandardOutput(argc, argv))
        platform::sendMessagesToStandardError();
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
            } else if (value == L"png") {
                direction = 'p';
            } else {
                print(invalidDirection, {value});
                platform::writeConsole(usageLine);
                return 1;
            }
            break;
        default:
            given.push_back({args.CurrentId(), typedNow, std::wstring(value)});
            break;
        }
    }
    // Options beyond these three are checked once all are read, so that
    // their order does not matter: first their values, then whether they go
    // with the direction.
    RunSettings settings;
    if (!takeValues(given, settings))
        return 1;
    if (direction == 0) {
        platform::writeConsole(usageLine);
        return 0;
    }
    if (!fitDirection(given, direction, settings.live))
        return 1;
    if (settings.font != nullptr && !readFont(*settings.font, settings.converter.picture))
        return 1;
    // The live screen goes to standard output unless told otherwise.
    if (settings.live && outputFile[0] == 0)
        outputFile[0] = L'-';

    // A folder as the output: one output file for each input file.
    const std::wstring_view output(outputFile);
    if (!settings.live && !output.empty() && !platform::isStandardOutput(outputFile) &&
        (platform::isFolderSeparator(output.back()) || platform::isFolder(outputFile)))
        return convertToFolder(direction, settings.converter, inputFile, outputFile);
    print(processing, {inputFile, outputFile, kindOf(direction)});
    std::unique_ptr<Buffers> buffers;
    std::unique_ptr<LivePlayer> player;
    if (settings.live)
        player = std::make_unique<LivePlayer>(LiveSettings{settings.pace, settings.converter.lowerCase});
    else
        buffers = std::make_unique<Buffers>(direction, settings.converter);
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
    FileSource file(infile.file);
    InputSource& source = image.isOpen() ? static_cast<InputSource&>(image) : file;
    return writeOutput(infile.file, outputFile, [&](int outfile, PendingOutput& pending) {
        if (settings.live)
            return playLive(*player, source, inputFile, outfile, outputFile, pending);
        return convert(buffers->pump, source, inputFile, outfile, outputFile);
    });
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
