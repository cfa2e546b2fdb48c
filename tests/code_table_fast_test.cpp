#include "code_table.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace {

// Every form and the strings that come closest to one: all strings of one or
// two bytes, and each form cut short, grown by a byte, padded past the longest
// form, and with each byte dropped or changed to one of the bytes that the
// lookup treats apart (NUL, the braces, a neighbouring value).
std::vector<std::string> formsAndNearMisses()
{
    std::vector<std::string> texts{""};
    for (int first = 0; first < 256; ++first) {
        texts.emplace_back(1, static_cast<char>(first));
        for (int second = 0; second < 256; ++second)
            texts.push_back({static_cast<char>(first), static_cast<char>(second)});
    }
    for (int code = 0; code < 256; ++code) {
        const std::string form = documentedForm(code);
        texts.push_back(form);
        texts.push_back(form + std::string(17 - form.size(), 'x'));
        for (std::size_t at = 0; at <= form.size(); ++at) {
            texts.push_back(form.substr(0, at));
            if (at == form.size())
                break;
            texts.push_back(form.substr(0, at) + form.substr(at + 1));
            for (const char byte : {'\0', '{', '}', static_cast<char>(form[at] ^ 1), static_cast<char>(form[at] ^ 0x80)}) {
                std::string changed = form;
                changed[at] = byte;
                texts.push_back(changed);
                texts.push_back(form.substr(0, at) + byte + form.substr(at));
            }
        }
        for (int byte = 0; byte < 256; ++byte)
            texts.push_back(form + static_cast<char>(byte));
    }
    return texts;
}

}  // namespace

TEST(CodeTableLookup, FindsEveryFormAndNothingElse)
{
    for (const std::string& text : formsAndNearMisses()) {
        const std::string_view shown = text;
        // With a length, NUL bytes are part of the text; as a C string it ends at the first.
        ASSERT_EQ(textToCode(text.data(), text.size()), documentedCode(text)) << testing::PrintToString(shown);
        ASSERT_EQ(textToCode(text.c_str()), documentedCode(text.c_str())) << testing::PrintToString(shown);
    }
}
