#pragma once

// The conversions by their plainest definitions, written from the rules rather
// than from the optimised code, so that tests and fuzz targets can compare
// the two.

#include "code_table.h"

#include <cstdint>
#include <iterator>
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
                seq += static_cast<char>(linearTextToCode(tag + '}'));
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
            seq += static_cast<char>(linearTextToCode(std::string_view(&ch, 1)));
        }
    }
    return seq;
}
