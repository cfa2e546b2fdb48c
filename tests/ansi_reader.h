#pragma once

// Reads the screen direction's output back into what a viewer sees: lines of
// cells, each a glyph with its foreground and background colour number. It
// accepts only what the rules of writing allow, so that tests and the fuzz
// target catch a byte out of place as well as a wrong picture.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

struct ScreenCell {
    char32_t glyph;
    int foreground;  // colour number 0-15
    int background;
};

using ScreenLines = std::vector<std::vector<ScreenCell>>;

namespace ansiReader {

// The C64 colours by number, from the published palette.
inline constexpr std::array<std::uint32_t, 16> palette = {
    0x000000, 0xFFFFFF, 0x813338, 0x75CEC8, 0x8E3C97, 0x56AC4D, 0x2E2C9B, 0xEDF171,
    0x8E5029, 0x553800, 0xC46C71, 0x4A4A4A, 0x7B7B7B, 0xA9FF9F, 0x706DEB, 0xB2B2B2,
};

// Reads a decimal number of 1-3 digits without leading zeros at `at`.
inline std::optional<int> readNumber(std::string_view bytes, std::size_t& at)
{
    std::size_t start = at;
    int value = 0;
    while (at < bytes.size() && at - start < 3 && bytes[at] >= '0' && bytes[at] <= '9')
        value = value * 10 + (bytes[at++] - '0');
    if (at == start || (at - start > 1 && bytes[start] == '0') || value > 255)
        return std::nullopt;
    return value;
}

// Reads "ESC[L8;2;R;G;Bm" at `at`; returns 3 or 4 for L and sets `colour`.
inline int readColour(std::string_view bytes, std::size_t& at, int& colour)
{
    const std::string_view head = bytes.substr(at, 7);
    if (head != "\x1b[38;2;" && head != "\x1b[48;2;")
        return 0;
    const int layer = head[2] - '0';
    at += 7;
    std::uint32_t rgb = 0;
    for (int part = 0; part < 3; ++part) {
        const std::optional<int> value = readNumber(bytes, at);
        const char separator = part < 2 ? ';' : 'm';
        if (!value || at >= bytes.size() || bytes[at] != separator)
            return 0;
        ++at;
        rgb = rgb << 8 | static_cast<std::uint32_t>(*value);
    }
    for (std::size_t number = 0; number < palette.size(); ++number)
        if (palette[number] == rgb)
            colour = static_cast<int>(number);
    return colour >= 0 ? layer : 0;
}

// Reads one UTF-8 character at `at` in its shortest form; returns 0 if there is none.
inline char32_t readUtf8(std::string_view bytes, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(bytes[at]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xC2 && lead < 0xE0 ? 2 : lead >= 0xE0 && lead < 0xF0 ? 3
                                                                       : lead >= 0xF0 && lead < 0xF5 ? 4 : 0;
    if (length == 0 || at + length > bytes.size())
        return 0;
    char32_t point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[at + i]);
        if ((next & 0xC0) != 0x80)
            return 0;
        point = point << 6 | (next & 0x3F);
    }
    const char32_t shortest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < shortest[length] || point > 0x10FFFF || (point >= 0xD800 && point < 0xE000))
        return 0;
    at += length;
    return point;
}

}  // namespace ansiReader

/// The lines that `bytes` show, or nothing with `fault` saying which rule the
/// bytes break: a row is a bare line feed, or cells (colour sequences only
/// where a colour changes, both before the first glyph) then "ESC[0m" and a
/// line feed; at most 40 cells, the last not a plain space, every cell black
/// on one side.
inline std::optional<ScreenLines> readAnsi(std::string_view bytes, std::string& fault)
{
    ScreenLines lines;
    std::size_t at = 0;
    const auto fail = [&](const std::string& why) {
        fault = why + " at byte " + std::to_string(at) + " of line " + std::to_string(lines.size());
        return std::nullopt;
    };
    while (at < bytes.size()) {
        std::vector<ScreenCell> line;
        int foreground = -1;
        int background = -1;
        bool newForeground = false;
        bool newBackground = false;
        for (;;) {
            if (at >= bytes.size())
                return fail("no line feed at the end");
            if (bytes[at] == '\n') {
                if (!line.empty())
                    return fail("a row of cells ends without ESC[0m");
                ++at;
                break;
            }
            if (bytes.substr(at, 5) == "\x1b[0m\n") {
                if (line.empty())
                    return fail("ESC[0m ends a row without cells");
                if (newForeground || newBackground)
                    return fail("a colour sequence after the last cell");
                at += 5;
                break;
            }
            int colour = -1;
            const std::size_t start = at;
            if (const int layer = ansiReader::readColour(bytes, at, colour); layer != 0) {
                bool& fresh = layer == 3 ? newForeground : newBackground;
                int& current = layer == 3 ? foreground : background;
                if (fresh)
                    return fail("two sequences for one layer before a cell");
                if (colour == current)
                    return fail("a sequence that changes nothing");
                fresh = true;
                current = colour;
                continue;
            }
            at = start;
            const char32_t glyph = ansiReader::readUtf8(bytes, at);
            if (glyph == 0 || glyph < 0x20 || glyph == 0x7F)
                return fail("no colour sequence, glyph or row end");
            if (foreground < 0 || background < 0)
                return fail("a cell before both colours are set");
            if (foreground != 0 && background != 0)
                return fail("a cell with neither colour black");
            if (line.size() == 40)
                return fail("more than 40 cells");
            line.push_back({glyph, foreground, background});
            newForeground = newBackground = false;
        }
        if (!line.empty() && line.back().glyph == U' ' && line.back().background == 0 && line.back().foreground != 0)
            return fail("a row that ends in a plain space");
        lines.push_back(std::move(line));
    }
    return lines;
}
