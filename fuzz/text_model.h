#pragma once

// A plain, byte-at-a-time model of the text-to-SEQ rules, written from the
// rules rather than from the optimised loop, so the two can be compared.

#include "code_table.h"

#include <cstdint>
#include <map>
#include <string>

/// Code whose form is exactly `token`, found in a plain map of every form; 0 when none.
inline std::uint8_t modelLookup(const std::string& token)
{
    static const std::map<std::string, std::uint8_t> codes = [] {
        std::map<std::string, std::uint8_t> forms;
        for (int code = 0; code < 256; ++code)
            forms.emplace(codeToText(static_cast<std::uint8_t>(code)), static_cast<std::uint8_t>(code));
        return forms;
    }();
    const auto found = codes.find(token);
    return found != codes.end() ? found->second : 0;
}

/// Converts `text` as one whole file: tags from "{" to "}", a "{" restarts a
/// tag, an open tag at the end is dropped, NUL adds nothing to a tag, CR, LF
/// and CR LF are one code 13 each outside a tag, anything else is looked up.
inline std::string modelTextToSeq(const std::string& text)
{
    std::string seq;
    std::string tag;
    bool inTag = false;
    char previous = 0;
    for (const char ch : text) {
        if (ch == '{') {
            inTag = true;
            tag = "{";
        } else if (inTag) {
            if (ch == '}') {
                inTag = false;
                tag += '}';
                seq += static_cast<char>(modelLookup(tag));
            } else if (ch != '\0') {
                tag += ch;
            }
        } else if (ch == '}') {
            seq += '\0';
        } else if (ch == '\r') {
            seq += '\r';
        } else if (ch == '\n') {
            if (previous != '\r')
                seq += '\r';
        } else {
            seq += static_cast<char>(modelLookup(std::string(1, ch)));
        }
        previous = ch;
    }
    return seq;
}
