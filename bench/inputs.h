#pragma once

// Inputs for the benchmarks, made the same way on every run so that figures
// from different days compare.

#include <cstddef>
#include <cstdint>
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

}  // namespace bench
