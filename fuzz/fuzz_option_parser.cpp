// COptionParser on arbitrary argument vectors, against the converter's table
// and a table with abbreviable, ambiguous, aliased and bare-word rows. The
// input's first byte picks the table; the rest, split at NUL bytes and decoded
// as the start-up decodes the command line, is the argument vector.
//
// Every answer is compared with a plain model of the matching rules, and
// checked for consistency: status codes only from the defined set, text and
// value pointers only into the table or the argument strings, false for ever
// after the first false, and arguments edited only where an option was taken.

#include "fuzz_check.h"
#include "main.h"
#include "option_parser.h"
#include "utf8.h"

#include <cstdint>
#include <cwchar>
#include <optional>
#include <string>
#include <vector>

namespace {

constexpr OptionDef otherTable[] = {
    {10, L"--alpha", ARG_SEPARATE}, {11, L"--alps", ARG_OPTIONAL}, {12, L"-a", ARG_NONE},
    {13, L"--all", ARG_JOINED},     {14, L"-ab", ARG_SEPARATE},    {10, L"--alphabet", ARG_NONE},
    {15, L"go", ARG_OPTIONAL},      {16, L"-", ARG_SEPARATE},      {17, L"--", ARG_NONE},
    {18, L"-x-y", ARG_NONE},        {18, L"-x-z", ARG_JOINED},     {-1, nullptr, ARG_NONE},
};

struct Answer {
    int status = OPT_OK;
    int id = -1;
    std::optional<std::wstring> text;
    std::optional<std::wstring> value;
};

bool isKnownStatus(int status)
{
    return status == OPT_OK || status == OPT_UNKNOWN || status == OPT_AMBIGUOUS || status == OPT_ARG_UNEXPECTED ||
           status == OPT_ARG_MISSING || status == OPT_ARG_IS_OPTION;
}

std::size_t leadingDashes(const std::wstring& text)
{
    std::size_t count = 0;
    while (count < text.size() && text[count] == L'-')
        ++count;
    return count;
}

// The matching rules, plainly: the same number of leading dashes; then the
// same name (exact), or a non-empty proper prefix of the row's name.
int modelFind(const OptionDef* table, const std::wstring& name)
{
    int partial = -1;
    int partialCount = 0;
    for (int n = 0; table[n].nOptionId >= 0; ++n) {
        const std::wstring row = table[n].pszArg;
        const std::size_t dashes = leadingDashes(row);
        if (leadingDashes(name) != dashes)
            continue;
        const std::wstring rowName = row.substr(dashes);
        const std::wstring argName = name.substr(dashes);
        if (rowName == argName)
            return n;
        if (!argName.empty() && rowName.size() > argName.size() && rowName.compare(0, argName.size(), argName) == 0) {
            partial = n;
            ++partialCount;
        }
    }
    if (partialCount == 0)
        return OPT_UNKNOWN;
    return partialCount == 1 ? partial : OPT_AMBIGUOUS;
}

bool slashForm(const std::wstring& argument)
{
    return argument.size() >= 2 && argument[0] == L'/' && argument[1] != L'-';
}

// Runs the model over `args` from `scanFrom`; returns nothing when no option is left.
std::optional<Answer> modelNext(const OptionDef* table, const std::vector<std::wstring>& args, std::size_t& scanFrom)
{
    for (std::size_t index = scanFrom; index < args.size(); ++index) {
        std::wstring argument = args[index];
        if (slashForm(argument))
            argument[0] = L'-';
        std::optional<std::wstring> value;
        if (!argument.empty() && argument[0] == L'-') {
            const std::size_t equals = argument.find(L'=');
            if (equals != std::wstring::npos) {
                value = argument.substr(equals + 1);
                argument.resize(equals);
            }
        }
        const int found = modelFind(table, argument);
        if (found < 0 && (argument.empty() || argument[0] != L'-'))
            continue;

        scanFrom = index + 1;
        Answer answer;
        if (found < 0) {
            answer.status = found;
            answer.text = argument;
            answer.value = value;
            return answer;
        }
        const OptionDef& row = table[found];
        answer.id = row.nOptionId;
        answer.text = std::wstring(row.pszArg);
        answer.value = value;
        if (row.eArgKind == ARG_NONE && value)
            answer.status = OPT_ARG_UNEXPECTED;
        else if (row.eArgKind == ARG_JOINED && !value)
            answer.status = OPT_ARG_MISSING;
        if (row.eArgKind == ARG_SEPARATE && !value && answer.status == OPT_OK) {
            if (scanFrom >= args.size()) {
                answer.status = OPT_ARG_MISSING;
            } else {
                const std::wstring& next = args[scanFrom];
                if ((!next.empty() && next[0] == L'-') || slashForm(next)) {
                    answer.status = OPT_ARG_IS_OPTION;
                } else {
                    answer.value = next;
                    ++scanFrom;
                }
            }
        }
        return answer;
    }
    scanFrom = args.size();
    return std::nullopt;
}

bool pointsIntoTable(const OptionDef* table, const wchar_t* text)
{
    for (int n = 0; table[n].nOptionId >= 0; ++n)
        if (table[n].pszArg == text)
            return true;
    return false;
}

bool pointsIntoArguments(std::vector<std::wstring>& edited, const wchar_t* text)
{
    for (std::wstring& argument : edited)
        if (text >= argument.data() && text <= argument.data() + argument.size())
            return true;
    return false;
}

std::optional<std::wstring> copyOf(const wchar_t* text)
{
    return text != nullptr ? std::optional<std::wstring>(text) : std::nullopt;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const OptionDef* table = (data[0] & 1) != 0 ? otherTable : optionTable;

    std::vector<std::wstring> original{L"program"};
    std::size_t start = 1;
    for (std::size_t i = 1; i <= size && original.size() < 64; ++i) {
        if (i == size || data[i] == 0) {
            original.push_back(wideFromBytes(std::string_view(reinterpret_cast<const char*>(data + start), i - start)));
            start = i + 1;
        }
    }
    // Decoding never yields NUL, so each argument is one whole C string.
    std::vector<std::wstring> edited = original;
    std::vector<wchar_t*> argv;
    for (std::wstring& argument : edited)
        argv.push_back(argument.data());
    argv.push_back(nullptr);

    COptionParser parser(static_cast<int>(original.size()), argv.data(), table);
    std::size_t modelScan = 1;
    std::size_t answers = 0;
    for (;;) {
        const bool more = parser.NextOption();
        const std::optional<Answer> expected = modelNext(table, original, modelScan);
        FUZZ_CHECK(more == expected.has_value());
        if (!more)
            break;
        ++answers;
        FUZZ_CHECK(answers < original.size());

        const int status = parser.ErrorCode();
        FUZZ_CHECK(isKnownStatus(status));
        FUZZ_CHECK(status == expected->status);
        FUZZ_CHECK(parser.CurrentId() == expected->id);
        FUZZ_CHECK(copyOf(parser.CurrentText()) == expected->text);
        FUZZ_CHECK(copyOf(parser.CurrentValue()) == expected->value);

        const wchar_t* text = parser.CurrentText();
        FUZZ_CHECK(text != nullptr);
        if (parser.CurrentId() >= 0)
            FUZZ_CHECK(pointsIntoTable(table, text));
        else
            FUZZ_CHECK(pointsIntoArguments(edited, text));
        if (parser.CurrentValue() != nullptr)
            FUZZ_CHECK(pointsIntoArguments(edited, parser.CurrentValue()));
        if (status == OPT_ARG_MISSING || status == OPT_ARG_IS_OPTION)
            FUZZ_CHECK(parser.CurrentValue() == nullptr);
        if (status == OPT_UNKNOWN || status == OPT_AMBIGUOUS)
            FUZZ_CHECK(parser.CurrentId() == -1);
    }

    // Once false, always false, with the accessors cleared.
    for (int again = 0; again < 3; ++again) {
        FUZZ_CHECK(parser.ErrorCode() == OPT_OK);
        FUZZ_CHECK(parser.CurrentId() == -1);
        FUZZ_CHECK(parser.CurrentText() == nullptr);
        FUZZ_CHECK(parser.CurrentValue() == nullptr);
        FUZZ_CHECK(!parser.NextOption());
    }

    // Arguments change only by the two in-place edits: a leading "/" made
    // "-", and the first "=" made the terminator.
    FUZZ_CHECK(edited[0] == original[0]);
    for (std::size_t i = 1; i < original.size(); ++i) {
        const std::wstring& before = original[i];
        const std::wstring& after = edited[i];
        FUZZ_CHECK(after.size() == before.size());
        const std::size_t equals = before.find(L'=');
        for (std::size_t at = 0; at < before.size(); ++at) {
            if (after[at] == before[at])
                continue;
            const bool slash = at == 0 && before[0] == L'/' && after[0] == L'-';
            const bool cut = at == equals && after[at] == 0;
            FUZZ_CHECK(slash || cut);
        }
    }
    return 0;
}
