#include "code_table.h"

#include <gtest/gtest.h>

#include <cctype>
#include <set>
#include <string>

namespace {

std::uint8_t lookUp(const std::string& text)
{
    return textToCode(text.c_str());
}

}  // namespace

TEST(CodeTable, EveryCodeRoundTrips)
{
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        EXPECT_EQ(textToCode(codeToText(c)), code) << code;
        EXPECT_EQ(textToCode(codeToText(c), formLength(c)), code) << code;
        EXPECT_EQ(std::string(codeToText(c)).size(), formLength(c)) << code;
    }
}

TEST(CodeTable, FormsAreUniqueWellShapedAndCountedByKind)
{
    std::set<std::string> forms;
    int named = 0;
    int numeric = 0;
    int single = 0;
    for (int code = 0; code < 256; ++code) {
        const std::string form = codeText[code];
        ASSERT_FALSE(form.empty()) << code;
        ASSERT_LE(form.size(), longestFormLength) << code;
        EXPECT_TRUE(forms.insert(form).second) << "duplicate form " << form;
        // The rest of the slot is zero, so the slot compares whole.
        for (std::size_t i = form.size(); i < formSlotSize; ++i)
            EXPECT_EQ(codeText[code][i], '\0') << code;

        if (form.size() == 1) {
            ++single;
            EXPECT_NE(form, "{");
            EXPECT_NE(form, "}");
            continue;
        }
        ASSERT_EQ(form.front(), '{') << code;
        ASSERT_EQ(form.back(), '}') << code;
        const std::string name = form.substr(1, form.size() - 2);
        EXPECT_EQ(name.find_first_of("{}"), std::string::npos) << code;
        if (name == std::to_string(code)) {
            ++numeric;
        } else {
            ++named;
            for (char ch : name)
                EXPECT_TRUE(std::isupper(static_cast<unsigned char>(ch)) || std::isdigit(static_cast<unsigned char>(ch)))
                    << form;
        }
    }
    EXPECT_EQ(named, 56);
    EXPECT_EQ(numeric, 113);
    EXPECT_EQ(single, 256 - 56 - 113);
}

TEST(CodeTable, KnownForms)
{
    const struct {
        int code;
        const char* form;
    } samples[] = {
        {0, "{0}"},       {3, "{STOP}"},      {10, "{10}"},      {13, "\n"},         {27, "{27}"},
        {28, "{RED}"},    {32, " "},          {34, "{QUOTE}"},   {64, "@"},          {65, "a"},
        {90, "z"},        {91, "["},          {92, "{POUND}"},   {93, "]"},          {95, "{LEFTARROW}"},
        {96, "{96}"},     {97, "A"},          {122, "Z"},        {133, "{F1}"},      {136, "{F7}"},
        {137, "{F2}"},    {140, "{F8}"},      {147, "{CLEAR}"},  {155, "{LGRAY}"},   {192, "{HLINE}"},
        {193, "{193}"},   {255, "{255}"},
    };
    for (const auto& sample : samples) {
        EXPECT_STREQ(codeToText(static_cast<std::uint8_t>(sample.code)), sample.form) << sample.code;
        EXPECT_EQ(lookUp(sample.form), sample.code) << sample.form;
    }
}

TEST(CodeTable, LettersSwapCase)
{
    for (int i = 0; i < 26; ++i) {
        EXPECT_EQ(lookUp(std::string(1, static_cast<char>('a' + i))), 65 + i);
        EXPECT_EQ(lookUp(std::string(1, static_cast<char>('A' + i))), 97 + i);
    }
}

TEST(CodeTable, NonFormsGiveZero)
{
    const char* nonForms[] = {
        "",       "{red}",  "{3}",    "{027}",  "\"",      "{13}",  "{256}",  "{}",     "{",
        "}",      "\r",     "\t",     "\\",     "^",       "_",     "`",      "|",      "~",
        "\x7f",   "\x80",   "\xff",   "RED",    "{RED",    "RED}",  "{RED} ", " {RED}", "{RED}}",
        "{{RED}", "{F9}",   "{-1}",   "{+1}",   "{1 }",    "aa",    "\n\n",   "{LEFTARROWS}",
    };
    for (const char* text : nonForms)
        EXPECT_EQ(lookUp(text), 0) << '"' << text << '"';
}

TEST(CodeTable, EmbeddedNulNeverMatches)
{
    EXPECT_EQ(textToCode("{RED}\0", 6), 0);
    EXPECT_EQ(textToCode("{R\0ED}", 6), 0);
    EXPECT_EQ(textToCode("\0", 1), 0);
    EXPECT_EQ(textToCode("{RED}", 5), 28);
}
