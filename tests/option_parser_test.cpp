#include "main.h"
#include "option_parser.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

// One answer of the parser, copied out so the case tables can compare it.
struct Answer {
    int status;
    int id;
    std::optional<std::wstring> text;
    std::optional<std::wstring> value;

    bool operator==(const Answer&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Answer& answer)
{
    auto show = [&](const std::optional<std::wstring>& text) {
        if (!text)
            out << "null";
        else
            for (wchar_t ch : *text)
                out << static_cast<char>(ch);
    };
    out << "{status " << answer.status << ", id " << answer.id << ", text ";
    show(answer.text);
    out << ", value ";
    show(answer.value);
    return out << "}";
}

std::optional<std::wstring> copy(const OPTCHAR* text)
{
    return text != nullptr ? std::optional<std::wstring>(text) : std::nullopt;
}

// An argument vector the parser may edit in place; element 0 is the program.
struct Arguments {
    explicit Arguments(std::vector<std::wstring> arguments) : strings(std::move(arguments))
    {
        strings.insert(strings.begin(), L"prog");
        for (auto& text : strings)
            pointers.push_back(text.data());
        pointers.push_back(nullptr);
    }
    int count() const { return static_cast<int>(strings.size()); }

    std::vector<std::wstring> strings;
    std::vector<OPTCHAR*> pointers;
};

std::vector<Answer> parseAll(Arguments& arguments, const OptionDef* table)
{
    COptionParser parser(arguments.count(), arguments.pointers.data(), table);
    std::vector<Answer> answers;
    while (parser.NextOption())
        answers.push_back({parser.ErrorCode(), parser.CurrentId(), copy(parser.CurrentText()), copy(parser.CurrentValue())});
    return answers;
}

std::vector<Answer> parseAll(std::vector<std::wstring> arguments, const OptionDef* table = optionTable)
{
    Arguments vector(std::move(arguments));
    return parseAll(vector, table);
}

const std::nullopt_t none = std::nullopt;

struct Case {
    std::vector<std::wstring> arguments;
    std::vector<Answer> answers;
};

void expectCases(const std::vector<Case>& cases, const OptionDef* table)
{
    for (const auto& sample : cases) {
        std::wstring joined;
        for (const auto& argument : sample.arguments)
            joined += L"'" + argument + L"' ";
        EXPECT_EQ(parseAll(sample.arguments, table), sample.answers)
            << std::string(joined.begin(), joined.end());  // ASCII cases only
    }
}

}  // namespace

TEST(OptionParser, ConverterOptionsAndTheirValues)
{
    expectCases(
        {
            {{L"-i=x"}, {{OPT_OK, 1, L"-i", L"x"}}},
            {{L"/i=x"}, {{OPT_OK, 1, L"-i", L"x"}}},
            {{L"/?"}, {{OPT_OK, 0, L"-?", none}}},
            {{L"-i="}, {{OPT_OK, 1, L"-i", L""}}},
            {{L"-i=a=b"}, {{OPT_OK, 1, L"-i", L"a=b"}}},
            {{L"-o=out", L"-d=txt"}, {{OPT_OK, 2, L"-o", L"out"}, {OPT_OK, 3, L"-d", L"txt"}}},
            {{L"--help"}, {{OPT_OK, 0, L"--help", none}}},
            {{L"--h"}, {{OPT_OK, 0, L"--help", none}}},
            {{L"--he"}, {{OPT_OK, 0, L"--help", none}}},
            {{L"--hel"}, {{OPT_OK, 0, L"--help", none}}},
        },
        optionTable);
}

TEST(OptionParser, ArgumentsThatAreNoOptionsAreSkipped)
{
    expectCases(
        {
            {{L"foo", L"x=y", L"/", L"/-x", L""}, {}},
            {{L"a", L"-i=x", L"b"}, {{OPT_OK, 1, L"-i", L"x"}}},
            {{}, {}},
        },
        optionTable);
}

TEST(OptionParser, FaultsCarryTheirTextAndValue)
{
    expectCases(
        {
            {{L"-"}, {{OPT_UNKNOWN, -1, L"-", none}}},
            {{L"--"}, {{OPT_UNKNOWN, -1, L"--", none}}},
            {{L"-x=1"}, {{OPT_UNKNOWN, -1, L"-x", L"1"}}},
            {{L"/help"}, {{OPT_UNKNOWN, -1, L"-help", none}}},
            {{L"-h"}, {{OPT_UNKNOWN, -1, L"-h", none}}},
            {{L"-help"}, {{OPT_UNKNOWN, -1, L"-help", none}}},
            {{L"--helpme"}, {{OPT_UNKNOWN, -1, L"--helpme", none}}},
            {{L"--hx"}, {{OPT_UNKNOWN, -1, L"--hx", none}}},
            {{L"-I=x"}, {{OPT_UNKNOWN, -1, L"-I", L"x"}}},
            {{L"-ifoo"}, {{OPT_UNKNOWN, -1, L"-ifoo", none}}},
            {{L"/tmp/x"}, {{OPT_UNKNOWN, -1, L"-tmp/x", none}}},
            {{L"-i"}, {{OPT_ARG_MISSING, 1, L"-i", none}}},
            {{L"-?=1"}, {{OPT_ARG_UNEXPECTED, 0, L"-?", L"1"}}},
            {{L"--he=1"}, {{OPT_ARG_UNEXPECTED, 0, L"--help", L"1"}}},
            {{L"--help="}, {{OPT_ARG_UNEXPECTED, 0, L"--help", L""}}},
            // Parsing goes on after a fault with the next argument.
            {{L"-x", L"-i=a", L"-q=2"},
             {{OPT_UNKNOWN, -1, L"-x", none}, {OPT_OK, 1, L"-i", L"a"}, {OPT_UNKNOWN, -1, L"-q", L"2"}}},
        },
        optionTable);
}

TEST(OptionParser, AbbreviationsExactMatchesAndAmbiguity)
{
    const OptionDef table[] = {
        {1, L"-a", ARG_NONE},
        {2, L"--alpha", ARG_NONE},
        {3, L"--alps", ARG_NONE},
        {4, L"--all", ARG_NONE},
        {5, L"--allow", ARG_NONE},
        {-1, nullptr, ARG_NONE},
    };
    expectCases(
        {
            {{L"--alp"}, {{OPT_AMBIGUOUS, -1, L"--alp", none}}},
            {{L"--alp=v"}, {{OPT_AMBIGUOUS, -1, L"--alp", L"v"}}},
            {{L"--alph"}, {{OPT_OK, 2, L"--alpha", none}}},
            {{L"--alps"}, {{OPT_OK, 3, L"--alps", none}}},
            // An exact name wins over the longer names it abbreviates.
            {{L"--all"}, {{OPT_OK, 4, L"--all", none}}},
            {{L"--allo"}, {{OPT_OK, 5, L"--allow", none}}},
            // "-a" has one dash, so it takes no part in matching "--a".
            {{L"--a"}, {{OPT_AMBIGUOUS, -1, L"--a", none}}},
            {{L"-a"}, {{OPT_OK, 1, L"-a", none}}},
            {{L"-al"}, {{OPT_UNKNOWN, -1, L"-al", none}}},
        },
        table);

    const OptionDef laterExact[] = {
        {1, L"--allow", ARG_NONE},
        {2, L"--all", ARG_NONE},
        {-1, nullptr, ARG_NONE},
    };
    expectCases({{{L"--all"}, {{OPT_OK, 2, L"--all", none}}}}, laterExact);
}

TEST(OptionParser, ValueKinds)
{
    const OptionDef table[] = {
        {1, L"-f", ARG_SEPARATE},
        {2, L"-v", ARG_NONE},
        {3, L"-o", ARG_OPTIONAL},
        {3, L"--out", ARG_OPTIONAL},  // an alias shares its id
        {4, L"run", ARG_NONE},        // a bare word can be an option too
        {-1, nullptr, ARG_NONE},
    };
    expectCases(
        {
            {{L"-f", L"name", L"-v"}, {{OPT_OK, 1, L"-f", L"name"}, {OPT_OK, 2, L"-v", none}}},
            {{L"-f=joined", L"x"}, {{OPT_OK, 1, L"-f", L"joined"}}},
            {{L"-f", L"/"}, {{OPT_OK, 1, L"-f", L"/"}}},
            {{L"-f", L"/-x"}, {{OPT_OK, 1, L"-f", L"/-x"}}},
            {{L"-f"}, {{OPT_ARG_MISSING, 1, L"-f", none}}},
            // The would-be value is then parsed as an option of its own.
            {{L"-f", L"-v"}, {{OPT_ARG_IS_OPTION, 1, L"-f", none}, {OPT_OK, 2, L"-v", none}}},
            {{L"-f", L"/v"}, {{OPT_ARG_IS_OPTION, 1, L"-f", none}, {OPT_OK, 2, L"-v", none}}},
            {{L"-v=1"}, {{OPT_ARG_UNEXPECTED, 2, L"-v", L"1"}}},
            {{L"-o"}, {{OPT_OK, 3, L"-o", none}}},
            {{L"-o=1", L"--ou=2"}, {{OPT_OK, 3, L"-o", L"1"}, {OPT_OK, 3, L"--out", L"2"}}},
            {{L"run", L"ru", L"x"}, {{OPT_OK, 4, L"run", none}, {OPT_OK, 4, L"run", none}}},
        },
        table);
}

TEST(OptionParser, EditsOnlyTheArgumentsItTakes)
{
    Arguments arguments({L"/i=x", L"x=y", L"/-x", L"-q=1", L"/", L"-d=a=b"});
    parseAll(arguments, optionTable);
    const wchar_t* expected[] = {L"-i\0x", L"x=y", L"/-x", L"-q\0001", L"/", L"-d\0a=b"};
    const std::size_t lengths[] = {4, 3, 3, 4, 1, 6};
    for (std::size_t i = 0; i < 6; ++i)
        EXPECT_EQ(arguments.strings[i + 1], std::wstring(expected[i], lengths[i])) << i;
}

TEST(OptionParser, SeparateValueKeepsItsSlash)
{
    const OptionDef table[] = {{1, L"-f", ARG_SEPARATE}, {2, L"-v", ARG_NONE}, {-1, nullptr, ARG_NONE}};
    Arguments arguments({L"-f", L"/v"});
    COptionParser parser(arguments.count(), arguments.pointers.data(), table);
    ASSERT_TRUE(parser.NextOption());
    EXPECT_EQ(parser.ErrorCode(), OPT_ARG_IS_OPTION);
    EXPECT_EQ(arguments.strings[2], L"/v");
}

TEST(OptionParser, StaysFinishedAfterTheLastOption)
{
    Arguments arguments({L"-i=a", L"skipped"});
    COptionParser parser(arguments.count(), arguments.pointers.data(), optionTable);
    ASSERT_TRUE(parser.NextOption());
    for (int call = 0; call < 3; ++call) {
        EXPECT_FALSE(parser.NextOption());
        EXPECT_EQ(parser.CurrentId(), -1);
        EXPECT_EQ(parser.CurrentText(), nullptr);
        EXPECT_EQ(parser.CurrentValue(), nullptr);
        EXPECT_EQ(parser.ErrorCode(), OPT_OK);
    }

    Arguments programOnly({});
    parser.Start(programOnly.count(), programOnly.pointers.data(), optionTable);
    EXPECT_FALSE(parser.NextOption());
}

TEST(OptionParser, TableRowWithSlashIsReportedAndMatchingGoesOn)
{
#ifdef NDEBUG
    GTEST_SKIP() << "release builds do not check the table";
#else
    const OptionDef table[] = {{1, L"/bad", ARG_NONE}, {2, L"-y", ARG_NONE}, {-1, nullptr, ARG_NONE}};
    testing::internal::CaptureStderr();
    const auto answers = parseAll({L"-y"}, table);
    const std::string report = testing::internal::GetCapturedStderr();
    EXPECT_EQ(answers, (std::vector<Answer>{{OPT_OK, 2, L"-y", none}}));
    EXPECT_NE(report.find("m_rgOptions[n].pszArg[0] != (OPTCHAR)'/'"), std::string::npos) << report;
    EXPECT_NE(report.find("option_parser.h"), std::string::npos) << report;
    EXPECT_NE(report.find("line "), std::string::npos) << report;
#endif
}
