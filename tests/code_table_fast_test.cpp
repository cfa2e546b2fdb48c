#include "code_table.h"
#include "reference.h"

#include <gtest/gtest.h>

#include <cstring>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

std::vector<std::string> everyForm()
{
    std::vector<std::string> forms;
    for (int code = 0; code < 256; ++code)
        forms.emplace_back(codeToText(static_cast<std::uint8_t>(code)));
    return forms;
}

// Strings that are no form but come close to one, or are plain noise.
std::vector<std::string> nonForms()
{
    std::vector<std::string> texts{""};
    for (int first = 0; first < 256; ++first) {
        texts.emplace_back(1, static_cast<char>(first));
        for (int second = 0; second < 256; ++second)
            texts.push_back({static_cast<char>(first), static_cast<char>(second)});
    }
    for (const std::string& form : everyForm()) {
        for (std::size_t at = 0; at <= form.size(); ++at) {
            if (at < form.size())
                texts.push_back(form.substr(0, at) + form.substr(at + 1));
            for (int byte = 0; byte < 256; ++byte) {
                texts.push_back(form.substr(0, at) + static_cast<char>(byte) + form.substr(at));
                if (at < form.size()) {
                    std::string changed = form;
                    changed[at] = static_cast<char>(byte);
                    texts.push_back(changed);
                }
            }
        }
    }
    std::mt19937 random(7);
    constexpr std::string_view tagCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::uniform_int_distribution<std::size_t> tagCharacter(0, tagCharacters.size() - 1);
    std::uniform_int_distribution<std::size_t> tagLength(0, 17);
    std::uniform_int_distribution<std::size_t> anyLength(0, 24);
    std::uniform_int_distribution<int> anyByte(0, 255);
    for (int i = 0; i < 100000; ++i) {
        std::string tag = "{";
        for (std::size_t length = tagLength(random); length > 0; --length)
            tag += tagCharacters[tagCharacter(random)];
        texts.push_back(tag + "}");
        std::string noise;
        for (std::size_t length = anyLength(random); length > 0; --length)
            noise += static_cast<char>(anyByte(random));
        texts.push_back(noise);
    }
    return texts;
}

}  // namespace

TEST(CodeTableLookup, MatchesLinearScanOnEveryFormAndManyNonForms)
{
    std::vector<std::string> texts = everyForm();
    const std::vector<std::string> others = nonForms();
    texts.insert(texts.end(), others.begin(), others.end());
    for (const std::string& text : texts) {
        const std::string_view shown = text;
        // With a length, NUL bytes are part of the text; as a C string it ends at the first.
        ASSERT_EQ(textToCode(text.data(), text.size()), linearTextToCode(text)) << testing::PrintToString(shown);
        ASSERT_EQ(textToCode(text.c_str()), linearTextToCode(text.c_str())) << testing::PrintToString(shown);
    }
}

TEST(CodeTableLookup, FormLengthIsTheLengthOfTheForm)
{
    for (int code = 0; code < 256; ++code)
        EXPECT_EQ(formLength(static_cast<std::uint8_t>(code)), std::strlen(codeText[code])) << code;
}
