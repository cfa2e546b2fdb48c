#pragma once

// Inputs for the benchmarks, made the same way on every run so that figures
// from different days compare.

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace bench {

/// `size` uniformly random bytes from a fixed seed: a SEQ file with every code.
inline std::string randomBytes(std::size_t size, std::uint64_t seed = 1)
{
    std::mt19937_64 random(seed);
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; i += 8) {
        std::uint64_t word = random();
        for (std::size_t j = i; j < i + 8 && j < size; ++j, word >>= 8)
            bytes[j] = static_cast<char>(word & 0xFF);
    }
    return bytes;
}

/// About `size` bytes of text as people write it: mostly letters, spaces and
/// line feeds in lines of about 40 characters, some punctuation, and about one
/// tag per 20 characters (colours, reverse on and off, cursor moves, numbers).
inline std::string typicalText(std::size_t size, std::uint64_t seed = 2)
{
    static constexpr std::string_view tags[] = {
        "{RED}", "{WHITE}", "{CYAN}", "{YELLOW}", "{LBLUE}", "{RVON}", "{RVOFF}", "{CLEAR}",
        "{HOME}", "{DOWN}", "{RIGHT}", "{LGRAY}", "{GREEN}", "{PURPLE}", "{HLINE}", "{VLINE}",
        "{QUOTE}", "{F1}", "{193}", "{160}",
    };
    static constexpr std::string_view punctuation = ".,!?:;-'()";
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<std::size_t> anyTag(0, std::size(tags) - 1);
    std::uniform_int_distribution<std::size_t> anyPunctuation(0, punctuation.size() - 1);
    std::uniform_int_distribution<int> anyLetter(0, 25);
    std::string text;
    text.reserve(size + 16);
    std::size_t column = 0;
    while (text.size() < size) {
        const int roll = percent(random);
        if (roll < 5) {
            text += tags[anyTag(random)];
            ++column;
        } else if (roll < 21) {
            if (column >= 38) {
                text += '\n';
                column = 0;
            } else {
                text += ' ';
                ++column;
            }
        } else if (roll < 23) {
            text += punctuation[anyPunctuation(random)];
            ++column;
        } else {
            const char base = roll < 27 ? 'A' : 'a';
            text += static_cast<char>(base + anyLetter(random));
            ++column;
        }
    }
    text.resize(size);
    return text;
}

/// `size` bytes of which none is a form: tabs, NULs, the other characters
/// that are no form outside a tag, and bytes from 127 up. Every byte gives code 0.
inline std::string nonFormText(std::size_t size, std::uint64_t seed = 3)
{
    static constexpr std::string_view lowNonForms("\t\0\"\\^_`|}~", 11);
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<std::size_t> anyLow(0, lowNonForms.size() - 1);
    std::uniform_int_distribution<int> anyHigh(127, 255);
    std::string text(size, '\0');
    for (char& ch : text)
        ch = percent(random) < 20 ? lowNonForms[anyLow(random)] : static_cast<char>(anyHigh(random));
    return text;
}

/// About `size` bytes of text like PETSCII art and BBS screens: about two tags
/// per three characters, mostly numbered graphics tags, then colour and
/// reverse tags, between short runs of letters and spaces, in lines of about
/// 40 characters.
inline std::string artText(std::size_t size, std::uint64_t seed = 4)
{
    static constexpr std::string_view colours[] = {
        "{BLACK}", "{WHITE}", "{RED}", "{CYAN}", "{PURPLE}", "{GREEN}", "{BLUE}", "{YELLOW}",
        "{ORANGE}", "{BROWN}", "{PINK}", "{DGRAY}", "{MGRAY}", "{LGREEN}", "{LBLUE}", "{LGRAY}",
    };
    static constexpr std::string_view namedGraphics[] = {
        "{HLINE}", "{VLINE}", "{CROSS}", "{LTEE}", "{RTEE}", "{UTEE}", "{BTEE}",
        "{ULCORNER}", "{URCORNER}", "{LLCORNER}", "{CHECK}", "{POUND}", "{UPARROW}",
    };
    std::mt19937_64 random(seed);
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> numbered(160, 255);
    std::uniform_int_distribution<std::size_t> anyColour(0, std::size(colours) - 1);
    std::uniform_int_distribution<std::size_t> anyNamed(0, std::size(namedGraphics) - 1);
    std::uniform_int_distribution<int> anyLetter(0, 25);
    std::string text;
    text.reserve(size + 16);
    std::size_t column = 0;
    bool reversed = false;
    while (text.size() < size) {
        const int roll = percent(random);
        if (roll < 40) {
            text += '{' + std::to_string(numbered(random)) + '}';
        } else if (roll < 50) {
            text += namedGraphics[anyNamed(random)];
        } else if (roll < 60) {
            text += colours[anyColour(random)];
        } else if (roll < 67) {
            text += reversed ? "{RVOFF}" : "{RVON}";
            reversed = !reversed;
        } else if (roll < 85) {
            text += ' ';
        } else {
            text += static_cast<char>((roll < 88 ? 'A' : 'a') + anyLetter(random));
        }
        if (++column == 40) {
            text += '\n';
            column = 0;
        }
    }
    text.resize(size);
    return text;
}

/// One screen of BBS art as SEQ codes: a clear, then 25 rows of 40 columns
/// of block graphics (mostly codes written as numbered tags), in runs and
/// ruled lines, colour changes and reversed runs, runs of spaces and short
/// words, each row ended with a line end.
inline std::string artScreen(std::mt19937_64& random)
{
    static constexpr std::uint8_t colours[] = {5,   28,  30,  31,  129, 144, 149, 150,
                                               151, 152, 153, 154, 155, 156, 158, 159};
    static constexpr std::uint8_t rules[] = {192, 125, 171, 173, 174, 176, 177, 178, 179, 123};
    std::uniform_int_distribution<int> percent(0, 99);
    std::uniform_int_distribution<int> runLength(1, 6);
    std::uniform_int_distribution<int> graphic(0, 63);
    std::uniform_int_distribution<std::size_t> anyColour(0, std::size(colours) - 1);
    std::uniform_int_distribution<std::size_t> anyRule(0, std::size(rules) - 1);
    std::uniform_int_distribution<int> anyLetter(0, 25);
    std::string screen(1, '\x93');
    for (int row = 0; row < 25; ++row) {
        bool reversed = false;
        for (int column = 0; column < 40;) {
            const int roll = percent(random);
            const int run = std::min(runLength(random), 40 - column);
            if (roll < 12) {
                screen += static_cast<char>(colours[anyColour(random)]);
            } else if (roll < 20) {
                screen += reversed ? '\x92' : '\x12';
                reversed = !reversed;
            } else if (roll < 62) {
                // 160-191 and 224-255: the block graphics, nearly all numbered tags.
                for (int k = 0; k < run; ++k, ++column) {
                    const int code = graphic(random);
                    screen += static_cast<char>(code < 32 ? 160 + code : 192 + code);
                }
            } else if (roll < 70) {
                screen.append(static_cast<std::size_t>(run), static_cast<char>(rules[anyRule(random)]));
                column += run;
            } else if (roll < 90) {
                screen.append(static_cast<std::size_t>(run), ' ');
                column += run;
            } else {
                for (int k = 0; k < run; ++k, ++column)
                    screen += static_cast<char>(65 + anyLetter(random));
            }
        }
        screen += reversed ? "\x92\r" : "\r";
    }
    return screen;
}

/// About `size` bytes of SEQ art: `examples` (SEQ files to start with, may
/// be empty) and then generated screens, over and over.
inline std::string realArt(std::size_t size, const std::string& examples, std::uint64_t seed = 5)
{
    std::mt19937_64 random(seed);
    std::string art;
    art.reserve(size + 4096);
    while (art.size() < size) {
        art += examples;
        for (int screen = 0; screen < 8; ++screen)
            art += artScreen(random);
    }
    art.resize(size);
    return art;
}

}  // namespace bench
