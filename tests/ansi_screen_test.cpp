#include "ansi_reader.h"
#include "conversion.h"
#include "main.h"
#include "screen_editor.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <map>
#include <random>
#include <regex>
#include <sstream>
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

// The notation of the table of what the machine does. Input: decimal codes and
// "TEXT", each perhaps repeated, as 65×40.
std::string inputOf(const std::string& notation)
{
    std::string seq;
    std::istringstream items(notation);
    for (std::string item; items >> item;) {
        const std::size_t mark = item.find("×");
        const std::size_t count = mark == std::string::npos ? 1 : std::stoul(item.substr(mark + 2));
        item = item.substr(0, mark);
        seq += times(count, item[0] == '"' ? item.substr(1, item.size() - 2) : codes({std::stoi(item)}));
    }
    return seq;
}

// Appends a row's cells: X, [X] reversed, {n} a screen code, _ a plain space,
// each perhaps followed by ×n and by /colour where it is not light blue.
void addCells(const std::string& cells, bool lowerCase, std::u32string& glyphs, std::string& colours)
{
    static const std::map<std::string, char32_t> named = {{"{64}", U'─'}, {"{83}", U'♥'}, {"{84}", U'\U0001FB70'},
                                                          {"{94}", U'π'}, {"{96}", U'\u00A0'}, {"{126}", U'▘'},
                                                          {"£", U'£'}, {"_", U' '}};
    static const std::string names[] = {"black", "white", "red", "cyan", "purple", "green", "blue", "yellow"};
    static const std::regex cell(R"((\[?)(\{\d+\}|£|[^\[])\]?(?:×(\d+))?(?:/([a-z]+))?)");
    for (std::sregex_iterator at(cells.begin(), cells.end(), cell), end; cells != "(blank)" && at != end; ++at) {
        const std::smatch& match = *at;
        const auto found = named.find(match[2]);
        char32_t glyph = found != named.end() ? found->second : static_cast<char32_t>(match[2].str()[0]);
        glyph += lowerCase && glyph >= U'A' && glyph <= U'Z' ? U'a' - U'A' : 0;
        const auto colour = match[4].matched ? std::find(std::begin(names), std::end(names), match[4]) - names : 14;
        const bool reversed = match[1].length() > 0;
        const std::string look = {"0123456789abcdef"[reversed ? 0 : colour], "0123456789abcdef"[reversed ? colour : 0]};
        const std::size_t count = match[3].matched ? std::stoul(match[3]) : 1;
        glyphs += std::u32string(count, glyph);
        colours += times(count, look);
    }
}

// What the viewer sees and where the editor stands, from "r0: ...; r1+: ...;
// cursor R,C; set 2; out: row, row"; "cleared:" lists the rows written at a
// clear, as "out:" those that left at the top.
struct Afterwards {
    std::vector<std::u32string> picture;
    std::vector<std::string> colours;
    std::vector<bool> continues = std::vector<bool>(25);
    std::size_t row = 0, column = 0;
};

Afterwards afterwardsOf(const std::string& notation)
{
    Afterwards out;
    const bool lowerCase = notation.find("set 2") != std::string::npos;
    std::vector<std::u32string> glyphs(25);
    std::vector<std::string> colours(25);
    std::size_t used = 0;
    const std::regex separator("; |, "), screenRow(R"(r(\d+)(\+?): (.*))");
    for (std::sregex_token_iterator item(notation.begin(), notation.end(), separator, -1), end; item != end; ++item) {
        const std::string text = *item;
        std::smatch row;
        if (text.starts_with("cursor ")) {
            out.row = std::stoul(text.substr(7));
            out.column = std::stoul(text.substr(text.find(',') + 1));
        } else if (std::regex_match(text, row, screenRow)) {
            const std::size_t at = std::stoul(row[1]);
            out.continues[at] = row[2] == "+";
            addCells(row[3], lowerCase, glyphs[at], colours[at]);
            used = glyphs[at].empty() ? used : std::max(used, at + 1);
        } else if (text != "set 2") {
            const std::size_t colon = text.find(": ");
            addCells(text.substr(colon == std::string::npos ? 0 : colon + 2), lowerCase,
                     out.picture.emplace_back(), out.colours.emplace_back());
        }
    }
    out.picture.insert(out.picture.end(), glyphs.begin(), glyphs.begin() + static_cast<std::ptrdiff_t>(used));
    out.colours.insert(out.colours.end(), colours.begin(), colours.begin() + static_cast<std::ptrdiff_t>(used));
    return out;
}

struct Ignored final : ScreenOutput {
    bool rowLeaves(const std::uint8_t*, const std::uint8_t*, bool) override { return true; }
    bool screenCleared(const ScreenRows&, bool) override { return true; }
    void inputEnded(const ScreenRows&, bool) override {}
};

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
        {"up at the top row stays", codes({145}) + "A", {U"A"}},
        {"left within a row", "AB" + codes({157}) + "C", {U"AC"}},
        {"right within a row", codes({29, 29}) + "A", {U"  A"}},
        {"right from column 39 goes to the next row", repeat(40, 29) + "A", {U"", U"A"}},
        {"down keeps the column", "A" + codes({17}) + "B", {U"A", U" B"}},
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
        {"a full row leaves whole, and the row it links with it", std::string(40, 'A') + repeat(24, 13), {a40, U""}},
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
        {"delete at column 0 blanks column 39 above", std::string(40, 'A') + codes({20}), {a39}},
        {"the cursor lands on column 39 above", std::string(40, 'A') + codes({20}) + "B", {a39 + U"B"}},
        {"a space enters at column 39", std::string(39, 'A') + "Z" + codes({145, 29, 20}),
         {std::u32string(38, U'A') + U"Z"}},
        {"insert opens a space at the cursor", "ABC" + codes({157, 157, 148}), {U"A BC"}},
        {"insert on a full row opens a row below", std::string(39, 'A') + "Z" + codes({145, 148}) + "Y", {U"Y" + a39, U"Z"}},
        {"insert at column 39", std::string(40, 'A') + codes({157, 148}), {a39, U"A"}},
    });
}

TEST(AnsiScreen, ShowsControlCodesInQuoteAndInsertMode)
{
    expectColours({
        {"a quoted control code is shown reversed", codes({34, 17, 34, 17}) + "A", {U"\"Q\"", U"   A"},
         {"e00ee0", "e0e0e0e0"}},
        {"a quoted colour code changes no colour", codes({34, 28}) + "A", {U"\"£A"}, {"e00ee0"}},
        {"a quoted reverse code is shown", codes({34, 18}) + "A", {U"\"RA"}, {"e00ee0"}},
        {"reverse mode leaves a shown code reversed", codes({18, 34, 17}), {U"\"Q"}, {"0e0e"}},
        {"a quoted cursor left is shown", codes({34, 157}), {U"\"│"}, {"e00e"}},
        {"return ends quote mode", codes({34, 13, 17}) + "A", {U"\"", U"", U"A"}, {"e0", "", "e0"}},
        {"shifted return ends quote mode", codes({34, 141, 17}) + "A", {U"\"", U"", U"A"}, {"e0", "", "e0"}},
        {"delete acts in quote mode", codes({34}) + "A" + codes({20}) + "B", {U"\"B"}, {"e0e0"}},
        {"a second quote ends quote mode", codes({34, 34, 17}) + "A", {U"\"\"", U"  A"}, {"e0e0", "e0e0e0"}},
        {"insert mode shows a control code", "A" + codes({157, 148, 5}) + "B", {U"EB"}, {"0ee0"}},
        {"insert mode shows delete", "A" + codes({157, 148, 20}), {U"TA"}, {"0ee0"}},
        {"a printed code ends insert mode", "A" + codes({157, 148}) + "X" + codes({5}) + "Y", {U"XY"}, {"e010"}},
        {"a quote printed in insert mode starts quote mode", "A" + codes({157, 148, 34, 17}), {U"\"Q"}, {"e00e"}},
        {"return ends insert mode", "A" + codes({157, 148, 13, 5}) + "B", {U" A", U"B"}, {"e0e0", "10"}},
    });
}

TEST(AnsiScreen, ColoursAndReverseVideo)
{
    expectColours({
        {"light blue at the start", "A", {U"A"}, {"e0"}},
        {"each colour code",
         codes({144, 'A', 5, 'A', 28, 'A', 159, 'A', 156, 'A', 30, 'A', 31, 'A', 158, 'A', 129, 'A', 149, 'A', 150, 'A',
                151, 'A', 152, 'A', 153, 'A', 154, 'A', 155, 'A'}),
         {std::u32string(16, U'A')},
         {"00102030405060708090a0b0c0d0e0f0"}},
        {"only the background changes", codes({18, 28}) + "A" + codes({30}) + "A", {U"AA"}, {"0205"}},
        {"a reversed space is content", codes({18, 32}), {U" "}, {"0e"}},
        {"a reversed black space", codes({144, 18, 32}), {U" "}, {"00"}},
        {"the colour outlives return and clear", codes({28, 13}) + "A" + codes({147}) + "B", {U"", U"A", U"B"},
         {"", "20", "20"}},
        {"spaces from the start are light blue", codes({28, 29}) + "A", {U" A"}, {"e020"}},
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

// Each row is what the machine's own screen editor does with the input: the
// rows that left at the top, then the screen, the cursor and the links.
TEST(AnsiScreen, DoesWhatTheMachineDoes)
{
    const std::pair<std::string, std::string> examples[] = {
        {"\"AB\" 13 \"C\"", "r0: AB; r1: C; cursor 1,1"},
        {"65×41", "r0: A×40; r1+: A; cursor 1,1"},
        {"65×40 13 \"B\"", "r0: A×40; r1+: (blank); r2: B; cursor 2,1"},
        {"65×41 19 29×39 \"X\" \"Y\"", "r0: A×39X; r1+: Y; cursor 1,1"},
        {"65×80 13 \"B\"", "r0: A×40; r1+: A×40; r3: B; cursor 3,1"},
        {"65×81", "r0: A×40; r1+: A×40; r2: A; cursor 2,1"},
        {"13 66×41 19 65×41 13 \"X\"", "r0: A×40; r1+: AB×39; r2: X; cursor 2,1"},
        {"13×24 65×41", "r23: A×40; r24+: A; cursor 24,1; out: (blank)"},
        {"65×41 13×23 66×41", "r22: B×40; r23+: B; cursor 23,1; out: A×40, A"},
        {"13×23 65×80", "r22: A×40; r23+: A×40; cursor 24,0; out: (blank)"},
        {"65×41 19 13 \"C\"", "r0: A×40; r1+: A; r2: C; cursor 2,1"},
        {"65×41 13×24 \"Z\"", "r23: Z; cursor 23,1; out: A×40, A"},
        {"34 141 28 \"A\"", "r0: \"; r1: A/red; cursor 1,1"},
        {"65×41 19 17 \"C\"", "r0: A×40; r1+: C; cursor 1,1"},
        {"\"A\" 17×25 \"B\"", "r24: _B; cursor 24,2; out: A"},
        {"65×41 13×23 17 \"Z\"", "r23: Z; cursor 23,1; out: A×40, A"},
        {"13 13 145 \"A\" 145 145 145 \"B\"", "r0: _B; r1: A; cursor 0,2"},
        {"29×40 \"X\" 19 13 \"Y\"", "r1: Y; cursor 1,1"},
        {"\"TOP\" 13×24 29×40 \"X\"", "r24: X; cursor 24,1; out: TOP"},
        {"\"AB\" 13 157 157 \"C\" 157 \"D\"", "r0: AB_×36D; cursor 0,39"},
        {"157 \"A\"", "r0: A; cursor 0,1"},
        {"\"A\" 17 17 19 \"B\"", "r0: B; cursor 0,1"},
        {"65×41 147 13 \"Y\"", "r1: Y; cursor 1,1; cleared: A×40, A"},
        {"18 \"A\" 147 \"B\"", "r0: [B]; cursor 0,1; cleared: [A]"},
        {"\"ABC\" 157 157 20", "r0: BC; cursor 0,0"},
        {"20 \"A\"", "r0: A; cursor 0,1"},
        {"65×38 \"C\" 157 148 \"B\" 13 20", "r0: A×38B; cursor 0,39"},
        {"65×39 \"B\" \"CDEF\" 145 157 157 20", "r0: A×38BC; r1+: DEF; cursor 0,1"},
        {"65×45 157×5 20", "r0: A×40; r1+: A×4; cursor 0,39"},
        {"\"ABC\" 157×3 148 \"X\"", "r0: XABC; cursor 0,1"},
        {"65×38 \"C\" 157 148 \"B\"", "r0: A×38BC; cursor 0,39"},
        {"65×40 17 \"ROW2\" 19 148 \"X\"", "r0: XA×39; r1+: A; r2: ROW2; cursor 0,1"},
        {"65×38 \"C\" 157 148 \"B\" 13 \"ROW2\" 19 148 \"X\"", "r0: XA×38B; r1+: C; r2: ROW2; cursor 0,1"},
        {"13 \"ROW1\" 19 29×39 148 \"X\"", "r0: _×39X; r1+: (blank); r2: ROW1; cursor 1,0"},
        {"\"TOP\" 13×24 65×38 \"C\" 157 148 \"B\" 157 157 148 \"X\"", "r23: A×37XAB; r24+: C; cursor 23,38; out: TOP"},
        {"13×23 65×38 \"C\" 157 148 \"B\" 13 \"LAST\" 145 148 \"X\"", "r23: A×4XA×34B; r24+: C; cursor 23,5"},
        {"65×78 \"C\" 157 148 \"B\" 157 148 \"X\"", "r0: A×40; r1+: A×38XC; cursor 1,39"},
        {"\"AB\" 157 157 148 148 \"XYZ\"", "r0: XYZB; cursor 0,3"},
        {"148×256 18 \"A\"", "r0: [A]; cursor 0,1"},
        {"\"AB\" 157 157 148 148 17 \"Q\"", "r0: [Q]QAB; cursor 0,2"},
        {"\"AB\" 157 148 20 148", "r0: A[T]_B; cursor 0,2"},
        {"34 147 17 20 34 \"A\"", "r0: \"[{83}]\"A; cursor 0,4"},
        {"34 148", "r0: \"[{84}]; cursor 0,2"},
        {"\"AB\" 157 157 148 148 34 34 28 \"R\"", "r0: \"\"[£]R; cursor 0,4"},
        {"\"AB\" 157 157 148 148 34 \"A\" 28 \"R\"", "r0: \"AR/redB; cursor 0,3"},
        {"18 \"A\" 146 \"B\" 18 \"C\" 13 \"D\"", "r0: [A]B[C]; r1: D; cursor 1,1"},
        {"28 \"A\" 158 \"B\" 14", "r0: A/redB/yellow; cursor 0,2; set 2"},
        {"28 147 5 \"A\" 29 \"B\"", "r0: A/white_/redB/white; cursor 0,3"},
        {"30 13×25 5 \"A\" 29 \"B\"", "r24: A/white_/greenB/white; cursor 24,3; out: (blank)"},
        {"\"AB\" 30 157 157 148", "r0: _/greenAB; cursor 0,0"},
        {"96 126 160 192 222 224 254 255", "r0: {64}{94}{96}{64}{94}{96}{126}{94}; cursor 0,8"},
        {"18 160 146 0 7 8 9 10 128 131 \"A\"", "r0: [{96}]A; cursor 0,2"},
        // Cells an insert pushes keep their colours; a code shown in insert mode under reverse; a
        // reversed space ends a full line; a DELETE at column 0 blanks in the text colour.
        {"28 \"AB\" 157 157 5 148", "r0: _/whiteA/redB/red; cursor 0,0"},
        {"18 \"A\" 157 148 17", "r0: [Q][A]; cursor 0,1"},
        {"18 \"A\" 32×79 146 19 148 \"X\"", "r0: X[_]×39; r1+: [_]×40; cursor 0,1"},
        {"\"A\" 13 28 20 5 148 \"X\" 29 \"Y\"", "r0: A_×38X/white; r1+: _/redY/white; cursor 1,2"},
    };
    for (const auto& [input, notation] : examples) {
        const std::string seq = inputOf(input);
        const Afterwards expected = afterwardsOf(notation);
        const ScreenLines lines = linesOf(seq);
        EXPECT_EQ(pictureOf(lines), expected.picture) << input;
        EXPECT_EQ(coloursOf(lines), expected.colours) << input;
        ScreenEditor editor;
        Ignored ignored;
        editor.print(reinterpret_cast<const std::uint8_t*>(seq.data()), seq.size(), ignored);
        std::vector<bool> continues;
        for (std::size_t row = 0; row < 25; ++row)
            continues.push_back(editor.continues(row));
        EXPECT_EQ(continues, expected.continues) << input;
        EXPECT_EQ(editor.cursorRow(), expected.row) << input;
        EXPECT_EQ(editor.cursorColumn(), expected.column) << input;
    }
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
