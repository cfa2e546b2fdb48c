#include "ansi_reader.h"
#include "conversion.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <random>
#include <string>
#include <vector>

namespace {

// SEQ bytes from code numbers; strings of capitals and digits are the same in
// PETSCII and print as themselves in character set 1.
std::string codes(std::initializer_list<int> values)
{
    std::string seq;
    for (const int value : values)
        seq += static_cast<char>(value);
    return seq;
}

std::string repeat(std::size_t count, int code)
{
    return std::string(count, static_cast<char>(code));
}

// Renders `seq` in blocks whose sizes come from `nextSize`; each block and
// each output buffer is of its exact size, so a write past the room is caught.
template <typename NextSize>
std::string renderInBlocks(const std::string& seq, NextSize nextSize)
{
    const std::unique_ptr<BlockConverter> screen = makeConverter('a');
    std::string written;
    for (std::size_t at = 0; at < seq.size();) {
        const std::size_t size = std::min(nextSize(), seq.size() - at);
        const std::vector<char> block(seq.begin() + static_cast<std::ptrdiff_t>(at),
                                      seq.begin() + static_cast<std::ptrdiff_t>(at + size));
        std::vector<char> output(screen->outputRoom(size));
        for (std::size_t done = 0; done < size;) {
            const BlockStep step = screen->convert(block.data() + done, size - done, output.data(), output.size());
            EXPECT_GT(step.consumed, 0u) << "the driver would loop for ever";
            if (step.consumed == 0)
                return written;
            written.append(output.data(), step.produced);
            done += step.consumed;
        }
        at += size;
    }
    std::vector<char> output(screen->outputRoom(1));
    written.append(output.data(), screen->finish(output.data(), output.size()));
    return written;
}

std::string render(const std::string& seq)
{
    return renderInBlocks(seq, [&] { return seq.size(); });
}

ScreenLines linesOf(const std::string& seq)
{
    std::string fault;
    const std::optional<ScreenLines> lines = readAnsi(render(seq), fault);
    EXPECT_TRUE(lines.has_value()) << fault;
    return lines.value_or(ScreenLines{});
}

// The glyphs of each line.
std::vector<std::u32string> pictureOf(const ScreenLines& lines)
{
    std::vector<std::u32string> picture;
    for (const auto& line : lines) {
        picture.emplace_back();
        for (const ScreenCell& cell : line)
            picture.back() += cell.glyph;
    }
    return picture;
}

// The colours of each line: per cell its foreground and background number in hex.
std::vector<std::string> coloursOf(const ScreenLines& lines)
{
    std::vector<std::string> colours;
    for (const auto& line : lines) {
        colours.emplace_back();
        for (const ScreenCell& cell : line) {
            colours.back() += "0123456789abcdef"[cell.foreground];
            colours.back() += "0123456789abcdef"[cell.background];
        }
    }
    return colours;
}

std::string times(std::size_t count, const std::string& text)
{
    std::string repeated;
    for (std::size_t i = 0; i < count; ++i)
        repeated += text;
    return repeated;
}

std::vector<std::u32string> blankLines(std::size_t count)
{
    return std::vector<std::u32string>(count);
}

std::vector<std::u32string> operator+(std::vector<std::u32string> first, const std::vector<std::u32string>& second)
{
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

struct PictureCase {
    const char* what;
    std::string seq;
    std::vector<std::u32string> picture;
};

void expectPictures(std::initializer_list<PictureCase> cases)
{
    for (const PictureCase& sample : cases)
        EXPECT_EQ(pictureOf(linesOf(sample.seq)), sample.picture) << sample.what;
}

struct ColourCase {
    const char* what;
    std::string seq;
    std::vector<std::u32string> picture;
    std::vector<std::string> colours;
};

void expectColours(std::initializer_list<ColourCase> cases)
{
    for (const ColourCase& sample : cases) {
        const ScreenLines lines = linesOf(sample.seq);
        EXPECT_EQ(pictureOf(lines), sample.picture) << sample.what;
        EXPECT_EQ(coloursOf(lines), sample.colours) << sample.what;
    }
}

const std::u32string a39(39, U'A');
const std::u32string a40(40, U'A');

}  // namespace

TEST(AnsiScreen, PrintsAndWraps)
{
    expectPictures({
        {"letters and digits", "HELLO 64", {U"HELLO 64"}},
        {"nothing in, nothing out", "", {}},
        {"a screen of plain spaces writes nothing", "   ", {}},
        {"a row ends at its last cell that is not a plain space", "A  B   ", {U"A  B"}},
        {"each range of codes to its screen code",
         codes({64, 92, 95, 96, 97, 126, 127, 160, 191, 192, 193, 222, 223, 224, 254, 255}),
         {U"@£←─♠π◥\u00A0▚─♠π◥\u00A0▘π"}},
        {"a no-break space is no plain space", codes({'A', 160}), {U"A\u00A0"}},
        {"column 40 wraps to the next row", std::string(40, 'A') + "B", {a40, U"B"}},
        {"an empty row between is a bare line", "A" + codes({13, 13}) + "B", {U"A", U"", U"B"}},
        {"codes that do nothing",
         "A" + codes({0, 1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 15, 16, 21, 22, 23, 24, 25, 26, 27, 128, 130, 131, 132, 133,
                      134, 135, 136, 137, 138, 139, 140, 143}) + "B",
         {U"AB"}},
    });
}

TEST(AnsiScreen, MovesTheCursorAtEachEdge)
{
    expectPictures({
        {"left at home stays", codes({157}) + "A", {U"A"}},
        {"up at the top row stays", codes({145}) + "A", {U"A"}},
        {"left within a row", "AB" + codes({157}) + "C", {U"AC"}},
        {"left from column 0 goes to column 39 above", codes({13, 157}) + "A", {std::u32string(39, U' ') + U"A"}},
        {"right within a row", codes({29, 29}) + "A", {U"  A"}},
        {"right from column 39 goes to the next row", repeat(40, 29) + "A", {U"", U"A"}},
        {"down keeps the column", "A" + codes({17}) + "B", {U"A", U" B"}},
        {"up keeps the column", codes({13, 13}) + "A" + codes({145}) + "B", {U"", U" B", U"A"}},
        {"home", "A" + codes({13}) + "B" + codes({19}) + "C", {U"C", U"B"}},
        {"down from the last row scrolls", repeat(24, 13) + "A" + codes({17}) + "B",
         blankLines(24) + std::vector<std::u32string>{U"A", U" B"}},
        {"right from the last cell scrolls", repeat(24, 13) + repeat(39, 29) + "AB",
         blankLines(24) + std::vector<std::u32string>{std::u32string(39, U' ') + U"A", U"B"}},
    });
}

TEST(AnsiScreen, ScrollsRowsOffTheTop)
{
    std::string rows;
    std::vector<std::u32string> expected;
    for (int i = 0; i < 30; ++i) {
        rows += static_cast<char>('A' + i % 26) + codes({13});
        expected.push_back(std::u32string(1, static_cast<char32_t>(U'A' + i % 26)));
    }
    expectPictures({
        {"a row is written when it leaves", "A" + repeat(25, 13), {U"A"}},
        {"rows that left, then the screen", "A" + codes({13}) + "B" + repeat(24, 13), {U"A", U"B"}},
        {"a full row leaves whole", std::string(40, 'A') + repeat(24, 13), {a40}},
        {"many rows keep their order", rows, expected},
    });
}

TEST(AnsiScreen, ClearWritesTheScreenAndStartsAnew)
{
    expectPictures({
        {"clearing a blank screen writes nothing", codes({147, 147}), {}},
        {"clear writes the screen", "A" + codes({147}) + "B", {U"A", U"B"}},
        {"blank rows at the bottom are left out", "A" + codes({13, 13, 147}), {U"A"}},
        {"a clear homes the cursor", "A" + codes({13}) + "B" + codes({147}) + "C", {U"A", U"B", U"C"}},
        {"home does not clear", "AB" + codes({19}) + "C", {U"CB"}},
    });
}

TEST(AnsiScreen, DeletesAndInserts)
{
    expectPictures({
        {"delete closes the row up", "ABC" + codes({157, 157, 20}) + "X", {U"XC"}},
        {"delete at the end of the text", "AB" + codes({20, 20}) + "C", {U"C"}},
        {"delete at home does nothing", codes({20}) + "A", {U"A"}},
        {"delete at column 0 blanks column 39 above", std::string(40, 'A') + codes({20}), {a39}},
        {"the cursor lands on column 39 above", std::string(40, 'A') + codes({20}) + "B", {a39 + U"B"}},
        {"a space enters at column 39", std::string(39, 'A') + "Z" + codes({145, 29, 20}),
         {std::u32string(38, U'A') + U"Z"}},
        {"insert opens a space at the cursor", "ABC" + codes({157, 157, 148}), {U"A BC"}},
        {"the inserted space is printed over", "ABC" + codes({157, 157, 148}) + "X", {U"AXBC"}},
        {"insert loses column 39", std::string(39, 'A') + "Z" + codes({145, 148}) + "Y", {U"Y" + a39}},
        {"insert at column 39", std::string(40, 'A') + codes({157, 148}), {a39}},
    });
}

TEST(AnsiScreen, ShowsControlCodesInQuoteAndInsertMode)
{
    expectColours({
        {"a quoted control code is shown reversed", codes({34, 17, 34, 17}) + "A", {U"\"Q\"", U"   A"},
         {"e00ee0", "e0e0e0e0"}},
        {"a quoted colour code changes no colour", codes({34, 28}) + "A", {U"\"£A"}, {"e00ee0"}},
        {"a quoted clear is shown", codes({34, 147}), {U"\"♥"}, {"e00e"}},
        {"a quoted reverse code is shown", codes({34, 18}) + "A", {U"\"RA"}, {"e00ee0"}},
        {"reverse mode leaves a shown code reversed", codes({18, 34, 17}), {U"\"Q"}, {"0e0e"}},
        {"a quoted cursor left is shown", codes({34, 157}), {U"\"│"}, {"e00e"}},
        {"return ends quote mode", codes({34, 13, 17}) + "A", {U"\"", U"", U"A"}, {"e0", "", "e0"}},
        {"shifted return ends quote mode", codes({34, 141, 17}) + "A", {U"\"", U"", U"A"}, {"e0", "", "e0"}},
        {"delete acts in quote mode", codes({34}) + "A" + codes({20}) + "B", {U"\"B"}, {"e0e0"}},
        {"a second quote ends quote mode", codes({34, 34, 17}) + "A", {U"\"\"", U"  A"}, {"e0e0", "e0e0e0"}},
        {"insert mode shows a control code", "A" + codes({157, 148, 5}) + "B", {U"EB"}, {"0ee0"}},
        {"insert mode shows delete", "A" + codes({157, 148, 20}), {U"TA"}, {"0ee0"}},
        {"insert mode shows insert", "A" + codes({157, 148, 148}), {U"\U0001FB70A"}, {"0ee0"}},
        {"a printed code ends insert mode", "A" + codes({157, 148}) + "X" + codes({5}) + "Y", {U"XY"}, {"e010"}},
        {"a quote printed in insert mode starts quote mode", "A" + codes({157, 148, 34, 17}), {U"\"Q"}, {"e00e"}},
        {"return ends insert mode", "A" + codes({157, 148, 13, 5}) + "B", {U" A", U"B"}, {"e0e0", "10"}},
    });
}

TEST(AnsiScreen, ColoursAndReverseVideo)
{
    std::vector<std::u32string> scrolled = blankLines(25);
    scrolled.push_back(U" A");
    std::vector<std::string> scrolledColours(25);
    scrolledColours.push_back("2020");
    expectColours({
        {"light blue at the start", "A", {U"A"}, {"e0"}},
        {"each colour code",
         codes({144, 'A', 5, 'A', 28, 'A', 159, 'A', 156, 'A', 30, 'A', 31, 'A', 158, 'A', 129, 'A', 149, 'A', 150, 'A',
                151, 'A', 152, 'A', 153, 'A', 154, 'A', 155, 'A'}),
         {std::u32string(16, U'A')},
         {"00102030405060708090a0b0c0d0e0f0"}},
        {"reverse on and off", codes({18}) + "A" + codes({146}) + "A", {U"AA"}, {"0ee0"}},
        {"only the background changes", codes({18, 28}) + "A" + codes({30}) + "A", {U"AA"}, {"0205"}},
        {"a reversed space is content", codes({18, 32}), {U" "}, {"0e"}},
        {"a reversed black space", codes({144, 18, 32}), {U" "}, {"00"}},
        {"return ends reverse", codes({18}) + "A" + codes({13}) + "B", {U"A", U"B"}, {"0e", "e0"}},
        {"the colour outlives return and clear", codes({28, 13}) + "A" + codes({147}) + "B", {U"", U"A", U"B"},
         {"", "20", "20"}},
        {"spaces from the start are light blue", codes({28, 29}) + "A", {U" A"}, {"e020"}},
        {"spaces from a clear take the text colour", codes({28, 147, 29}) + "A", {U" A"}, {"2020"}},
        {"spaces from a scroll take the text colour", repeat(24, 13) + codes({28, 13, 29}) + "A", scrolled,
         scrolledColours},
        {"a space from an insert takes the text colour", "A" + codes({157, 28, 148}), {U" A"}, {"20e0"}},
        {"spaces from a delete take the text colour", "A" + codes({28, 20, 29, 20}) + repeat(39, 29) + "Z",
         {std::u32string(39, U' ') + U"Z"}, {times(38, "e0") + "2020"}},
    });
}

TEST(AnsiScreen, ShowsTheCharacterSetActiveWhenARowIsWritten)
{
    std::vector<std::string> setColours(26);
    setColours.front() = setColours.back() = "e0";
    expectColours({
        {"set 2 applies to the whole screen", "A" + codes({14}) + "B", {U"ab"}, {"e0e0"}},
        {"set 1 again", "A" + codes({14}) + "B" + codes({142}), {U"AB"}, {"e0e0"}},
        {"rows written before the switch keep set 1", "A" + codes({147, 14}) + "B", {U"A", U"b"}, {"e0", "e0"}},
        {"a row that scrolls off takes the set of that moment", "A" + repeat(24, 13) + codes({14, 13, 142}) + "B",
         std::vector<std::u32string>{U"a"} + blankLines(24) + std::vector<std::u32string>{U"B"},
         setColours},
        {"glyphs that differ between the sets, set 1", codes({97, 126, 186, 223}), {U"♠π\U0001FB7F◥"}, {"e0e0e0e0"}},
        {"glyphs that differ between the sets, set 2", codes({14, 97, 126, 186, 223}), {U"A\U0001FB96✓\U0001FB98"},
         {"e0e0e0e0"}},
        {"reversed in set 2", codes({14, 18}) + "A", {U"a"}, {"0e"}},
    });
}

TEST(AnsiScreen, SameBytesWhateverTheSplit)
{
    // Codes weighted towards those that move, scroll, clear and switch modes.
    std::mt19937 random(11);
    const int controls[] = {13, 17, 19, 20, 29, 34, 141, 145, 148, 157, 18, 146, 14, 142, 28, 5, 147};
    std::uniform_int_distribution<int> anyByte(0, 255);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(controls) * 4);
    std::string mixed;
    for (int i = 0; i < 30000; ++i) {
        const std::size_t choice = pick(random);
        mixed += static_cast<char>(choice < std::size(controls) && (controls[choice] != 147 || i % 7 == 0)
                                       ? controls[choice]
                                       : anyByte(random));
    }
    // The most one code can write: a clear of a full screen whose every cell
    // changes both colours and has a four-byte glyph.
    std::string dense;
    for (int cell = 0; cell < 999; ++cell)
        dense += cell % 2 == 0 ? codes({18, 5, 98}) : codes({146, 155, 98});
    dense += codes({147});
    // Three such screens in one block write more than a block's room: the
    // screen stops taking codes and takes the rest in the next call.
    const std::string denser = dense + dense + dense;

    for (const std::string& seq : {mixed, dense, denser}) {
        const std::string whole = render(seq);
        std::string fault;
        EXPECT_TRUE(readAnsi(whole, fault).has_value()) << fault;
        std::uniform_int_distribution<std::size_t> small(1, 40);
        std::uniform_int_distribution<std::size_t> large(1, 70000);
        EXPECT_EQ(renderInBlocks(seq, [] { return std::size_t{1}; }), whole);
        EXPECT_EQ(renderInBlocks(seq, [&] { return small(random); }), whole);
        EXPECT_EQ(renderInBlocks(seq, [&] { return large(random); }), whole);
    }
}
