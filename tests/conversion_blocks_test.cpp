#include "code_table.h"
#include "conversion.h"
#include "reference.h"
#include "text_loop.h"

#include <gtest/gtest.h>

#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace {

// Text made of the pieces that matter to the tokeniser: forms, lone braces,
// line ends, NULs, random bytes, tags with a NUL or a line end inside, and
// tags too long for any form.
std::string trickyText(std::size_t pieces, unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<int> kind(0, 11);
    std::uniform_int_distribution<std::size_t> longLength(12, 40);
    std::string text;
    for (std::size_t i = 0; i < pieces; ++i) {
        const std::string form = documentedForm(anyByte(random));
        switch (kind(random)) {
        case 0: text += '{'; break;
        case 1: text += '}'; break;
        case 2: text += '\r'; break;
        case 3: text += '\n'; break;
        case 4: text += '\0'; break;
        case 5: text += static_cast<char>(anyByte(random)); break;
        case 6: text += form.substr(0, form.size() / 2 + 1); break;
        case 7: text += form.substr(0, form.size() / 2) + '\0' + form.substr(form.size() / 2); break;
        case 8: text += form.substr(0, form.size() / 2) + "\r\n" + form.substr(form.size() / 2); break;
        case 9:
            text += '{';
            text.append(longLength(random), 'A');
            text += '}';
            break;
        default: text += form; break;
        }
    }
    return text;
}

// Converts `text` in blocks whose sizes come from `nextSize`, each block in a
// buffer of its own exact size so that a read past it is caught.
template <typename NextSize>
std::string textToSeqInBlocks(TextLoop loop, const std::string& text, NextSize nextSize)
{
    TextToSeq converter(loop);
    std::string seq;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t size = std::min(nextSize(), text.size() - at);
        const std::vector<char> block(text.begin() + static_cast<std::ptrdiff_t>(at),
                                      text.begin() + static_cast<std::ptrdiff_t>(at + size));
        std::vector<std::uint8_t> codes(size);
        codes.resize(converter.convert(block.data(), size, codes.data()));
        seq.append(codes.begin(), codes.end());
        at += size;
    }
    return seq;
}

// The window loops this processor runs; the others are named as skipped.
std::vector<TextLoop> loopsThatRun()
{
    std::vector<TextLoop> loops;
    for (const TextLoop loop : allTextLoops) {
        if (textLoopRuns(loop))
            loops.push_back(loop);
        else
            std::cout << "skipped the " << textLoopName(loop) << " loop: this processor lacks it\n";
    }
    return loops;
}

template <typename NextSize>
std::string seqToTextInBlocks(const std::string& seq, NextSize nextSize)
{
    std::string text;
    for (std::size_t at = 0; at < seq.size();) {
        const std::size_t size = std::min(nextSize(), seq.size() - at);
        const std::vector<std::uint8_t> block(seq.begin() + static_cast<std::ptrdiff_t>(at),
                                              seq.begin() + static_cast<std::ptrdiff_t>(at + size));
        std::vector<char> out(seqToTextCapacity(size));
        text.append(out.data(), seqToText(block.data(), size, out.data()));
        at += size;
    }
    return text;
}

}  // namespace

TEST(ConversionBlocks, TextToSeqGivesTheByteRulesResultWhateverTheSplit)
{
    // Random pieces, and the two extremes: the longest tag, read furthest
    // ahead, and single characters, one code per byte.
    std::string longest;
    std::string single;
    for (int i = 0; i < 300; ++i) {
        longest += "{LEFTARROW}";
        single += "aZ09";
    }
    for (const TextLoop loop : loopsThatRun()) {
        for (unsigned seed = 1; seed <= 6; ++seed) {
            const std::string text = seed == 5 ? longest : seed == 6 ? single : trickyText(20000, seed);
            const std::string expected = referenceTextToSeq(text);
            const std::string where = std::string(textLoopName(loop)) + ", seed " + std::to_string(seed);
            std::mt19937 random(seed);
            std::uniform_int_distribution<std::size_t> small(1, 40);
            std::uniform_int_distribution<std::size_t> large(1, 70000);
            EXPECT_EQ(textToSeqInBlocks(loop, text, [&] { return text.size(); }), expected) << "one block, " << where;
            EXPECT_EQ(textToSeqInBlocks(loop, text, [] { return std::size_t{1}; }), expected) << "bytes, " << where;
            EXPECT_EQ(textToSeqInBlocks(loop, text, [&] { return small(random); }), expected) << "small, " << where;
            EXPECT_EQ(textToSeqInBlocks(loop, text, [&] { return large(random); }), expected) << "large, " << where;
        }
    }
}

TEST(ConversionBlocks, TextToSeqGivesTheByteRulesResultAtEveryOffset)
{
    // Text is classified 16 and 64 bytes at a time; each piece goes at every
    // offset from the start of a block, so that it meets every lane and
    // window edge, with enough plain text around it to keep that path busy.
    const std::string pieces[] = {
        "{RED}", "{LEFTARROW}", "{193}", "{0}", "{}", "}", "{", "{{RED}", "{A{B}", "{RED}{F1}{3}",
        std::string("{RE\0D}", 7), std::string("\0\0", 2), std::string("{\0}", 3),
        "\r\n", "\r", "\n", "\r\r\n", "\n\r", "{RE\r\nD}", "{HOME\r}\n",
        "{" + std::string(17, 'A') + "}", "{" + std::string(30, 'A') + "}", "{" + std::string(70, 'A') + "}",
        "{" + std::string(62, 'A'), "{LEFTARROW}{UPARROW}{POUND}{VLINE}{CROSS}{SRETURN}{LLCORNER}",
        "{LEFTARROWS}{LLCORNERS}{REDS}",  // a form with a letter more before its "}" is none
    };
    for (const TextLoop loop : loopsThatRun()) {
        for (const std::string& piece : pieces) {
            for (std::size_t offset = 0; offset <= 140; ++offset) {
                const std::string text = std::string(offset, 'a') + piece + std::string(100, 'B');
                const std::string expected = referenceTextToSeq(text);
                EXPECT_EQ(textToSeqInBlocks(loop, text, [&] { return text.size(); }), expected)
                    << textLoopName(loop) << ", whole, offset " << offset << ", piece " << piece;
                // And with a block ending right after the piece's first byte.
                bool first = true;
                const auto cut = [&] {
                    const std::size_t size = first ? offset + 1 : text.size();
                    first = false;
                    return size;
                };
                EXPECT_EQ(textToSeqInBlocks(loop, text, cut), expected)
                    << textLoopName(loop) << ", cut, offset " << offset << ", piece " << piece;
            }
        }
    }
}

TEST(ConversionBlocks, SeqToTextGivesEachFormWhateverTheSplit)
{
    std::mt19937 random(3);
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::string seq;
    for (int i = 0; i < 100000; ++i)
        seq += static_cast<char>(anyByte(random));
    // A run of the longest form fills the output room to its last byte.
    seq.insert(seq.size() / 2, 2000, '\x5f');
    std::string expected;
    for (const char code : seq)
        expected += documentedForm(static_cast<std::uint8_t>(code));
    std::uniform_int_distribution<std::size_t> small(1, 40);
    EXPECT_EQ(seqToTextInBlocks(seq, [&] { return seq.size(); }), expected);
    EXPECT_EQ(seqToTextInBlocks(seq, [] { return std::size_t{1}; }), expected);
    EXPECT_EQ(seqToTextInBlocks(seq, [&] { return small(random); }), expected);
}
