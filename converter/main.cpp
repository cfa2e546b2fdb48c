#include "main.h"

#include "block_pump.h"
#include "conversion.h"
#include "disk_image.h"
#include "option_parser.h"
#include "platform.h"
#include "screen_picture.h"
#include "screen_writer.h"
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
    ID_CHARSET = 5,
    ID_BACKGROUND = 6,
    ID_BORDER = 7,
    ID_SCALE = 8,
    ID_FONT = 9,
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
    {ID_CHARSET, L"--charset", ARG_JOINED},
    {ID_BACKGROUND, L"--background", ARG_JOINED},
    {ID_BORDER, L"--border", ARG_JOINED},
    {ID_SCALE, L"--scale", ARG_JOINED},
    {ID_FONT, L"--font", ARG_JOINED},
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

std::unique_ptr<BlockConverter> makeConverter(wchar_t direction)
{
    if (direction == 'p')
        return makeScreenPicture({});
    if (direction == 't')
        return makeSeqToTextBlocks();
    if (direction == 'a')
        return makeAnsiScreen();
    return makeTextToSeqBlocks();
}

namespace {

// The converter and its buffers, made before either file is opened, so that
// memory running out costs nothing the user had.
struct Buffers {
    explicit Buffers(std::unique_ptr<BlockConverter> made) : converter(std::move(made)), pump(*converter, blockSize) {}
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

// The picture's options, each as typed, in command-line order; they are
// checked once every option is read.
struct PictureOptions {
    struct Typed {
        int id;
        std::wstring argument;  // as typed
        std::wstring value;
    };
    std::vector<Typed> typed;
    PictureSettings settings;
};

// The argument, as typed, whose value the parser found at `value`: the
// parser cuts an argument at its "=" and may turn a leading "/" into "-".
std::wstring typedArgument(const std::vector<std::wstring>& arguments, wchar_t* argv[], const wchar_t* value)
{
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (argv[i] + std::wcslen(argv[i]) + 1 == value)
            return arguments[i];
    }
    return value;
}

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

// Checks the picture's options for `direction` and takes their values, a
// later one replacing an earlier. Returns 0, or 1 after printing the first
// that is refused.
int checkPictureOptions(wchar_t direction, PictureOptions& options)
{
    PictureSettings& settings = options.settings;
    for (const PictureOptions::Typed& option : options.typed) {
        const int number = numberIn(option.value, option.id == ID_SCALE ? 1 : 0,
                                    option.id == ID_SCALE ? static_cast<int>(picture::maxScale) : 15);
        bool good = direction == 'p';
        if (option.id == ID_CHARSET)
            good = good && (option.value == L"upper" || option.value == L"lower");
        else if (option.id != ID_FONT)
            good = good && number >= 0;
        if (!good) {
            print(invalidArgument, {option.argument});
            return 1;
        }
        if (option.id == ID_CHARSET)
            settings.lowerCase = option.value == L"lower";
        else if (option.id == ID_BACKGROUND)
            settings.background = static_cast<std::uint8_t>(number);
        else if (option.id == ID_BORDER)
            settings.border = static_cast<std::uint8_t>(number);
        else if (option.id == ID_SCALE)
            settings.scale = static_cast<unsigned>(number);
    }
    return 0;
}

// Reads the character ROM image that `--font` names into the settings.
// Returns 0, or 1 after printing why it cannot be used.
int readFont(PictureOptions& options)
{
    const PictureOptions::Typed* font = nullptr;
    for (const PictureOptions::Typed& option : options.typed) {
        if (option.id == ID_FONT)
            font = &option;
    }
    if (font == nullptr)
        return 0;
    unsigned error = 0;
    const OpenInput file{platform::openInput(font->value.c_str(), error)};
    if (file.file < 0) {
        print(cannotOpenInput, {font->value}, error);
        return 1;
    }
    // One byte more than a ROM image tells a longer file.
    std::vector<std::uint8_t>& bytes = options.settings.font;
    bytes.resize(picture::fontSize + 1);
    std::size_t size = 0;
    for (std::ptrdiff_t count = 1; count > 0 && size < bytes.size(); size += static_cast<std::size_t>(count)) {
        count = platform::readFile(file.file, bytes.data() + size, bytes.size() - size, error);
        if (count < 0) {
            print(cannotRead, {font->value}, error);
            return 1;
        }
    }
    if (size != picture::fontSize) {
        print(invalidArgument, {font->argument});
        return 1;
    }
    bytes.resize(picture::fontSize);
    return 0;
}

// Runs the chosen conversion from `infile` to `outfile`. Returns 0, or 1
// after printing which file failed.
int convert(Buffers& buffers, InputSource& infile, const wchar_t* inputFile, int outfile, const wchar_t* outputFile)
{
    const PumpResult result = buffers.pump.run(infile, outfile);
    if (result.failure == PumpResult::Failure::none && buffers.converter->outOfMemory())
        return reportOutOfMemory();
    if (result.failure == PumpResult::Failure::reading)
        print(cannotRead, {inputFile}, result.error);
    else if (result.failure == PumpResult::Failure::writing)
        print(cannotWrite, {outputFile}, result.error);
    return result.failure == PumpResult::Failure::none ? 0 : 1;
}

int run(int argc, wchar_t* argv[])
{
    wchar_t inputFile[maxNameUnits + 1] = {};
    wchar_t outputFile[maxNameUnits + 1] = {};
    wchar_t direction = 0;
    PictureOptions picture;
    // The parser edits the arguments; a refused one is printed as typed.
    const std::vector<std::wstring> arguments(argv, argv + argc);
    COptionParser args(argc, argv, optionTable);

    while (args.NextOption()) {
        if (args.ErrorCode() != OPT_OK) {
            print(invalidArgument, {orEmpty(args.CurrentText())});
            return 1;
        }
        const std::wstring_view value = orEmpty(args.CurrentValue());
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
        case ID_CHARSET:
        case ID_BACKGROUND:
        case ID_BORDER:
        case ID_SCALE:
        case ID_FONT:
            picture.typed.push_back({args.CurrentId(), typedArgument(arguments, argv, value.data()), std::wstring(value)});
            break;
        default:
            break;
        }
    }
    if (direction == 0) {
        platform::writeConsole(usageLine);
        return 0;
    }
    if (checkPictureOptions(direction, picture) != 0)
        return 1;

    // Data on standard output leaves no room there for messages, the
    // progress line included.
    if (platform::isStandardOutput(outputFile))
        platform::sendMessagesToStandardError();
    if (readFont(picture) != 0)
        return 1;
    const wchar_t* const directionName = direction == 's'   ? L"SEQ"
                                         : direction == 't' ? L"TXT"
                                         : direction == 'a' ? L"ANSI"
                                                            : L"PNG";
    print(processing, {inputFile, outputFile, directionName});
    Buffers buffers(direction == 'p' ? makeScreenPicture(picture.settings) : makeConverter(direction));
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
    if (convert(buffers, image.isOpen() ? static_cast<InputSource&>(image) : file, inputFile, outfile, outputFile) != 0)
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
