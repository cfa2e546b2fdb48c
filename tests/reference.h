#pragma once

// The conversions by their plainest definitions, written from the rules rather
// than from the optimised code, so that tests and fuzz targets can compare
// the two.

#include "code_table.h"

#include <cstdint>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <vector>

/// The lookup as a scan: compare with each entry in code order, the first
/// equal one wins, and no equal entry gives 0.
inline std::uint8_t linearTextToCode(std::string_view text)
{
    static const std::vector<std::string_view> entries(std::begin(codeText), std::end(codeText));
    for (std::size_t code = 0; code < entries.size(); ++code)
        if (entries[code] == text)
            return static_cast<std::uint8_t>(code);
    return 0;
}

/// The same lookup through an ordered map of every form: plain too, and fast
/// enough for the fuzz targets, which call it for every token.
inline std::uint8_t mappedTextToCode(std::string_view text)
{
    static const std::map<std::string_view, std::uint8_t, std::less<>> codes = [] {
        std::map<std::string_view, std::uint8_t, std::less<>> forms;
        for (std::size_t code = 0; code < 256; ++code)
            forms.emplace(codeText[code], static_cast<std::uint8_t>(code));
        return forms;
    }();
    const auto found = codes.find(text);
    return found != codes.end() ? found->second : 0;
}

/// Text to SEQ one byte at a time, by the rules alone: "{" (re)starts a tag,
/// "}" closes it, a NUL adds nothing to a tag, every other byte inside a tag is
/// gathered, CR gives 13 and a LF right after it nothing, any other LF gives
/// 13, and a tag still open at the end is dropped.
inline std::string referenceTextToSeq(std::string_view text)
{
    std::string seq;
    std::string tag;
    bool inTag = false;
    bool afterReturn = false;
    for (const char ch : text) {
        const bool lineFeedAfterReturn = afterReturn;
        afterReturn = false;
        if (ch == '{') {
            inTag = true;
            tag = "{";
        } else if (inTag) {
            if (ch == '}') {
                inTag = false;
                seq += static_cast<char>(mappedTextToCode(tag + '}'));
            } else if (ch != '\0') {
                tag += ch;
            }
        } else if (ch == '\r') {
            afterReturn = true;
            seq += '\r';
        } else if (ch == '\n') {
            if (!lineFeedAfterReturn)
                seq += '\r';
        } else {
            seq += static_cast<char>(mappedTextToCode(std::string_view(&ch, 1)));
        }
    }
    return seq;
}
