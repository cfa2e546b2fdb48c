#include "main.h"

#include "conversion.h"
#include "option_parser.h"
#include "platform.h"

#include <cwchar>
#include <memory>
#include <string>
#include <string_view>

namespace {

enum OptionId : std::int32_t {
    ID_HELP = 0,
    ID_INPUT = 1,
    ID_OUTPUT = 2,
    ID_DIRECTION = 3,
};

}  // namespace

// Row order matters only for abbreviations; "--help" is the one long option.
constexpr OptionDef optionTable[] = {
    {ID_DIRECTION, L"-d", ARG_JOINED},
    {ID_INPUT, L"-i", ARG_JOINED},
    {ID_OUTPUT, L"-o", ARG_JOINED},
    {ID_HELP, L"-?", ARG_NONE},
    {ID_HELP, L"--help", ARG_NONE},
    {-1, nullptr, ARG_NONE},
};

namespace {

constexpr std::size_t maxNameLength = 256;

// Every text the program prints. "%s" and "%u" mark where a name, a value or
// an error number goes.
constexpr std::wstring_view usageLine = L"Usage: Kalmora -i=infile -o=outfile -d=(seq|txt)\n";
constexpr std::wstring_view invalidArgument = L"Invalid argument: %s\n";
constexpr std::wstring_view invalidDirection = L"Invalid direction. %s";
constexpr std::wstring_view nameTooLong = L"File name too long: %s\n";
constexpr std::wstring_view processing = L"Processing %s to %s as %s\n\n";
constexpr std::wstring_view cannotOpenInput = L"Could not open %s for reading. [%u]";
constexpr std::wstring_view cannotOpenOutput = L"Could not open %s for writing. [%u]";
constexpr std::wstring_view cannotRead = L"Could not read %s. [%u]";
constexpr std::wstring_view cannotWrite = L"Could not write %s. [%u]";

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

// Runs the chosen loop from `infile` to `outfile` in blocks. Returns 0, or 1
// after printing which file failed.
int convert(wchar_t direction, int infile, const wchar_t* inputFile, int outfile, const wchar_t* outputFile)
{
    const std::unique_ptr<BlockConverter> converter = makeConverter(direction);
    const std::size_t outputRoom = converter->outputRoom(blockSize);
    // Left uninitialised: a small file touches only the pages it needs.
    const auto input = std::make_unique_for_overwrite<char[]>(blockSize);
    const auto output = std::make_unique_for_overwrite<char[]>(outputRoom);
    unsigned error = 0;
    const auto write = [&](std::size_t size) {
        if (platform::writeFile(outfile, output.get(), size, error))
            return true;
        print(cannotWrite, {outputFile}, error);
        return false;
    };
    for (;;) {
        const std::ptrdiff_t count = platform::readFile(infile, input.get(), blockSize, error);
        if (count < 0) {
            print(cannotRead, {inputFile}, error);
            return 1;
        }
        if (count == 0)
            return write(converter->finish(output.get(), outputRoom)) ? 0 : 1;
        const auto size = static_cast<std::size_t>(count);
        for (std::size_t done = 0; done < size;) {
            const BlockStep step = converter->convert(input.get() + done, size - done, output.get(), outputRoom);
            if (!write(step.produced))
                return 1;
            done += step.consumed;
        }
    }
}

}  // namespace

int kalmoraMain(int argc, wchar_t* argv[])
{
    wchar_t inputFile[maxNameLength + 1] = {};
    wchar_t outputFile[maxNameLength + 1] = {};
    wchar_t direction = 0;
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
        case ID_INPUT:
        case ID_OUTPUT: {
            // A shortened name could overwrite some other file.
            if (value.size() > maxNameLength) {
                print(nameTooLong, {value});
                return 1;
            }
            wchar_t* name = args.CurrentId() == ID_INPUT ? inputFile : outputFile;
            std::wmemset(name, 0, maxNameLength + 1);
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
        default:
            break;
        }
    }
    if (direction == 0) {
        platform::writeConsole(usageLine);
        return 0;
    }

    print(processing, {inputFile, outputFile, direction == 's' ? L"SEQ" : direction == 't' ? L"TXT" : L"ANSI"});
    unsigned error = 0;
    const int infile = platform::openInput(inputFile, error);
    if (infile < 0) {
        print(cannotOpenInput, {inputFile}, error);
        return 1;
    }
    const int outfile = platform::openOutput(outputFile, infile, error);
    if (outfile < 0) {
        print(cannotOpenOutput, {outputFile}, error);
        platform::closeFile(infile, error);
        return 1;
    }
    int status = convert(direction, infile, inputFile, outfile, outputFile);
    // Data the system kept back may fail only now; that is a failed write too.
    if (!platform::closeFile(outfile, error) && status == 0) {
        print(cannotWrite, {outputFile}, error);
        status = 1;
    }
    platform::closeFile(infile, error);
    return status;
}
