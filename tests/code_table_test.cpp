#include "code_table.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::uint8_t lookUp(const std::string& text)
{
    return textToCode(text.c_str());
}

}  // namespace

TEST(CodeTable, EveryCodeHasItsDocumentedForm)
{
    for (int code = 0; code < 256; ++code) {
        const auto c = static_cast<std::uint8_t>(code);
        const std::string form = documentedForm(code);
        EXPECT_EQ(codeToText(c), form) << code;
        EXPECT_EQ(formLength(c), form.size()) << code;
        EXPECT_EQ(textToCode(form.c_str()), code) << form;
        EXPECT_EQ(textToCode(form.data(), form.size()), code) << form;
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
