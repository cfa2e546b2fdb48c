#include "conversion.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

std::string toText(const Bytes& seq)
{
    std::string text(seqToTextCapacity(seq.size()), '\0');
    text.resize(seqToText(seq.data(), seq.size(), text.data()));
    return text;
}

// Converts `text` in pieces of `piece` bytes (0: all at once) through one converter.
Bytes toSeq(const std::string& text, std::size_t piece = 0)
{
    TextToSeq converter;
    Bytes seq(text.size());
    std::size_t written = 0;
    const std::size_t step = piece == 0 ? std::max<std::size_t>(text.size(), 1) : piece;
    for (std::size_t at = 0; at < text.size(); at += step) {
        const std::size_t size = std::min(step, text.size() - at);
        written += converter.convert(text.data() + at, size, seq.data() + written);
    }
    seq.resize(written);
    return seq;
}

std::string show(const Bytes& bytes)
{
    std::string shown;
    for (auto byte : bytes)
        shown += std::to_string(byte) + " ";
    return shown;
}

}  // namespace

TEST(SeqToText, WritesEachCodeAsItsForm)
{
    const struct {
        Bytes seq;
        std::string text;
    } cases[] = {
        {{}, ""},
        {{0x93, 0x05, 0x48, 0x49, 0x0D}, "{CLEAR}{WHITE}hi\n"},
        {{0xC1}, "{193}"},
        {{0xFF}, "{255}"},
        {{0x00, 0x0A, 0x0D, 0x0D}, "{0}{10}\n\n"},
        {{0x41, 0x61, 0x5F, 0x22, 0x20}, "aA{LEFTARROW}{QUOTE} "},
    };
    for (const auto& sample : cases)
        EXPECT_EQ(toText(sample.seq), sample.text) << show(sample.seq);
}

TEST(TextToSeq, TokensTagsAndNonForms)
{
    const struct {
        std::string text;
        Bytes seq;
    } cases[] = {
        {"", {}},
        {"HELLO", {0x68, 0x65, 0x6C, 0x6C, 0x6F}},
        {"{CLEAR}{WHITE}hi\r\n", {0x93, 0x05, 0x48, 0x49, 0x0D}},
        {"{27}{255}{0}", {0x1B, 0xFF, 0x00}},
        // Forms that do not exist, and characters that have none.
        {"{3}{red}{13}{}", {0, 0, 0, 0}},
        {std::string("\"\t\\^_`|~\x7f\x80\xff", 11), Bytes(11, 0)},
        {std::string("a\0b", 3), {0x41, 0x00, 0x42}},
        // A "{" restarts the tag; a "}" alone is no form.
        {"{RE{RED}", {0x1C}},
        {"}a}", {0, 0x41, 0}},
        {"{{{RED}}", {0x1C, 0}},
        // A tag still open at the end is dropped.
        {"ab{RED", {0x41, 0x42}},
        {"{", {}},
        // Inside a tag everything is gathered, line ends too; a NUL adds nothing.
        {"{RE\nD}", {0}},
        {"{RE\r\nD}", {0}},
        {std::string("{R\0ED}", 6), {0x1C}},
        {std::string("{\0}", 3), {0}},
        // The same with 23 bytes after the "{", so that the quick path reads the
        // tag: a "{" or a NUL in its first or second eight bytes still counts.
        {"{ABC{RED}{ABCDEFGH{RED}{RED}{RED}", {0x1C, 0x1C, 0x1C, 0x1C}},
        {std::string("{LEFTARRO\0W}{RED}{RED}{RED}", 27), {0x5F, 0x1C, 0x1C, 0x1C}},
    };
    for (const auto& sample : cases) {
        EXPECT_EQ(toSeq(sample.text), sample.seq) << '"' << sample.text << '"';
        EXPECT_EQ(toSeq(sample.text, 1), sample.seq) << "byte by byte: \"" << sample.text << '"';
    }
}

TEST(TextToSeq, EveryLineEndGivesOneReturn)
{
    const struct {
        std::string text;
        Bytes seq;
    } cases[] = {
        {"a\r\nb", {0x41, 13, 0x42}},
        {"a\nb", {0x41, 13, 0x42}},
        {"a\rb", {0x41, 13, 0x42}},
        {"\n\r", {13, 13}},
        {"\r\r\n\n", {13, 13, 13}},
        {"\r\n\r\n", {13, 13}},
        {"{RED}\n", {0x1C, 13}},
        {"{RED}\r\n{RED}", {0x1C, 13, 0x1C}},
        // A return gathered into a tag does not swallow the line feed after the tag.
        {"{A\r}\n", {0, 13}},
        {"\r{RED}\n", {13, 0x1C, 13}},
    };
    for (const auto& sample : cases) {
        EXPECT_EQ(toSeq(sample.text), sample.seq) << show(Bytes(sample.text.begin(), sample.text.end()));
        EXPECT_EQ(toSeq(sample.text, 1), sample.seq) << show(Bytes(sample.text.begin(), sample.text.end()));
    }
}

TEST(TextToSeq, OverlongTagsGiveZeroAndStayInTheBuffer)
{
    for (std::size_t inside = 0; inside <= 60; ++inside) {
        const std::string open = std::string(1, '{').append(inside, 'A');
        // No form of the table is made of letters A alone.
        EXPECT_EQ(toSeq(open + "}{RED}"), (Bytes{0, 0x1C})) << inside;
        EXPECT_EQ(toSeq(open + "{RED}"), (Bytes{0x1C})) << inside;
    }
    // A real form padded past the buffer does not match.
    EXPECT_EQ(toSeq("{RED" + std::string(30, '\0') + "}"), (Bytes{0x1C}));
    EXPECT_EQ(toSeq("{RED" + std::string(30, ' ') + "}"), (Bytes{0}));
}

TEST(TextToSeq, AnySplitGivesTheSameCodes)
{
    const std::string text = std::string("{CLEAR}Hi{RE\nD}\r\n{27}a}b{{LGRAY}\n\r{\0RED}x{", 42);
    const Bytes whole = toSeq(text);
    for (std::size_t piece = 1; piece <= text.size(); ++piece)
        EXPECT_EQ(toSeq(text, piece), whole) << piece;
}

TEST(RoundTrip, AnySeqSurvivesTextAndBack)
{
    Bytes every(256);
    for (int code = 0; code < 256; ++code)
        every[static_cast<std::size_t>(code)] = static_cast<std::uint8_t>(code);
    EXPECT_EQ(toSeq(toText(every)), every);

    std::mt19937 random(20261207);
    std::uniform_int_distribution<int> byte(0, 255);
    for (std::size_t size : {1u, 2u, 17u, 1000u, 100000u}) {
        Bytes seq(size);
        for (auto& code : seq)
            code = static_cast<std::uint8_t>(byte(random));
        const std::string text = toText(seq);
        EXPECT_EQ(toSeq(text), seq) << size;
        EXPECT_EQ(toSeq(text, 7), seq) << size;

        // Text whose line ends were turned into CR LF by an editor converts back too.
        std::string crlf;
        for (char ch : text)
            crlf += ch == '\n' ? std::string("\r\n") : std::string(1, ch);
        EXPECT_EQ(toSeq(crlf), seq) << size;
    }
}
