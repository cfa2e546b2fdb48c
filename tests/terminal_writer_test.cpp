#include "ansi_reader.h"
#include "main.h"
#include "screen_writer.h"
#include "terminal_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>

namespace {

struct Queued {
    std::uint64_t time;
    std::string keys;       // keys pressed then, or none for a new size
    TerminalSize size = {};
};

// A terminal whose clock moves only to the moments the player waits for
// (plus `late` microseconds, as a busy system wakes late) or a key comes.
struct FakeConsole final : LiveConsole {
    std::uint64_t clock = 0;
    std::uint64_t late = 0;
    std::vector<Queued> queue;
    TerminalSize terminal;
    bool withKeys = false;
    std::string written;
    std::vector<std::uint64_t> writeTimes;

    std::uint64_t now() override { return clock; }
    LiveEvent wait(std::uint64_t deadline, bool forever, std::string& keys) override
    {
        if (!queue.empty() && (forever || queue.front().time <= deadline)) {
            const Queued next = queue.front();
            queue.erase(queue.begin());
            clock = std::max(clock, next.time);
            keys = next.keys;
            terminal = next.keys.empty() ? next.size : terminal;
            return next.keys.empty() ? LiveEvent::resized : LiveEvent::keys;
        }
        clock = std::max(clock, deadline + late);
        return forever ? LiveEvent::ended : LiveEvent::deadline;
    }
    bool hasKeys() const override { return withKeys; }
    TerminalSize size() override { return terminal; }
    bool write(const std::string& bytes, unsigned&) override
    {
        written += bytes;
        writeTimes.push_back(clock);
        return true;
    }
    void stop() override {}
    int finish() override { return 0; }
};

struct StringSource final : InputSource {
    std::string bytes;
    std::size_t at = 0;
    explicit StringSource(std::string bytes) : bytes(std::move(bytes)) {}
    std::ptrdiff_t read(void* data, std::size_t size, unsigned&) override
    {
        const std::size_t count = std::min({size, bytes.size() - at, std::size_t{7}});
        std::memcpy(data, bytes.data() + at, count);
        at += count;
        return static_cast<std::ptrdiff_t>(count);
    }
};

FakeConsole play(const std::string& seq, std::uint32_t baud, FakeConsole console = {}, bool lowerCase = false)
{
    StringSource input(seq);
    LivePlayer(LiveSettings{baud, lowerCase}).play(input, console);
    return console;
}

struct Cell {
    char32_t glyph = 0;  // 0: never written
    int foreground = -1, background = -1;
    bool operator==(const Cell&) const = default;
};
using Grid = std::map<std::pair<int, int>, Cell>;  // by row and column, from 1

// What a terminal shows after `bytes`: the cells written, where the cursor
// positions put them, and whether the alternate screen and the cursor are on.
Grid emulate(std::string_view bytes, bool& alternate, bool& cursorShown)
{
    Grid grid;
    int row = 1, column = 1, foreground = -1, background = -1;
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.substr(at, 2) != "\x1b[") {
            const char32_t glyph = ansiReader::readUtf8(bytes, at);
            EXPECT_NE(glyph, 0U) << "a byte that is no character at " << at;
            if (glyph == 0)
                return grid;
            if (glyph == U'\n')
                row += 1, column = 1;
            else
                grid[{row, column++}] = {glyph, foreground, background};
            continue;
        }
        const std::size_t end = bytes.find_first_of("mHJhl", at + 2);
        const std::string_view sequence = bytes.substr(at, end - at + 1);
        int colour = -1;
        std::size_t colourAt = at;
        if (const int layer = ansiReader::readColour(bytes, colourAt, colour); layer != 0)
            (layer == 3 ? foreground : background) = colour;
        else if (sequence == "\x1b[0m")
            foreground = background = -1;
        else if (sequence == "\x1b[2J")
            grid.clear();
        else if (sequence.ends_with('H'))
            std::sscanf(std::string(sequence).c_str(), "\x1b[%d;%dH", &row, &column);
        else if (sequence == "\x1b[?1049h" || sequence == "\x1b[?1049l")
            alternate = sequence.back() == 'h', grid.clear();
        else if (sequence == "\x1b[?25h" || sequence == "\x1b[?25l")
            cursorShown = sequence.back() == 'h';
        else
            EXPECT_TRUE(sequence == "\x1b[?2026h" || sequence == "\x1b[?2026l") << sequence.substr(1);
        at = end + 1;
    }
    return grid;
}

}  // namespace

// The screen the player leaves, before it gives the terminal back, against
// the editor's own cells written as -d=ansi writes a screen.
TEST(TerminalWriter, DrawsTheEditorsScreenCentredInItsFrame)
{
    std::string scrolls;
    for (int line = 0; line < 30; ++line)
        scrolls += "\x1c" "LINE " + std::to_string(line) + "\x12 X\x0d";
    const struct {
        std::string seq;
        TerminalSize size;
        std::vector<Queued> events;
        bool lowerCase;
    } cases[] = {
        {"\x93\x05HELLO\x0dWORLD\x0e", {80, 25}, {}, false},
        {"AB\x0e\x11\x1d\x1d\x9e" "C\x14\x94\x12" "D", {100, 30}, {}, true},
        {scrolls, {100, 30}, {}, false},
        {scrolls + "\x13\x91", {30, 10}, {}, false},
        {scrolls, {100, 30}, {{50000, "", {41, 27}}}, false},
        {scrolls, {42, 24}, {{50000, "", {43, 28}}}, false},
    };
    for (const auto& sample : cases) {
        FakeConsole console;
        console.terminal = sample.size;
        console.queue = sample.events;
        console = play(sample.seq, 9600, console, sample.lowerCase);
        const std::size_t leaving = console.written.rfind("\x1b[0m\x1b[?25h\x1b[?1049l");
        ASSERT_NE(leaving, std::string::npos);
        bool alternate = false, cursorShown = true;
        const Grid shown = emulate(std::string_view(console.written).substr(0, leaving), alternate, cursorShown);
        EXPECT_TRUE(alternate && !cursorShown);
        ScreenEditor editor;
        struct : ScreenOutput {
            bool rowLeaves(const std::uint8_t*, const std::uint8_t*, bool) override { return true; }
            bool screenCleared(const ScreenRows&, bool) override { return true; }
            void inputEnded(const ScreenRows&, bool) override {}
        } none;
        const std::string seq = (sample.lowerCase ? "\x0e" : "") + sample.seq;
        editor.print(reinterpret_cast<const std::uint8_t*>(seq.data()), seq.size(), none);
        std::string finalScreen;
        appendAnsiScreen(editor.cells(), editor.lowerCase(), finalScreen);
        const Grid expected = emulate(finalScreen, alternate, cursorShown);
        const int width = static_cast<int>(console.terminal.columns), height = static_cast<int>(console.terminal.rows);
        const int top = (height - 25 + 100) / 2 - 49, left = (width - 40 + 100) / 2 - 49;
        for (int row = 1; row <= height; ++row) {
            for (int column = 1; column <= width; ++column) {
                const int screenRow = row - top + 1, screenColumn = column - left + 1;
                const bool inside = screenRow >= 1 && screenRow <= 25 && screenColumn >= 1 && screenColumn <= 40;
                const bool frame = !inside && screenRow >= 0 && screenRow <= 26 && screenColumn >= 0 && screenColumn <= 41;
                Cell want = frame ? Cell{U' ', 0, 14} : Cell{};
                if (inside) {
                    const auto found = expected.find({screenRow, screenColumn});
                    want = found != expected.end() ? found->second : Cell{U' ', -1, 0};
                }
                Cell got = shown.count({row, column}) != 0 ? shown.at({row, column}) : Cell{};
                if (want.glyph == U' ')
                    got.foreground = want.foreground;  // a space shows no foreground
                EXPECT_EQ(got, want) << sample.seq << " at row " << row << ", column " << column;
            }
        }
        // Given back, the terminal keeps the final screen as -d=ansi writes it.
        EXPECT_EQ(console.written.substr(leaving), "\x1b[0m\x1b[?25h\x1b[?1049l" + finalScreen);
    }
}

// When each drawing is written, in microseconds from the start: N / 10 codes
// a second, pausing, stepping the pace, skipping to a clear, quitting.
TEST(TerminalWriter, ReleasesCodesByTheClockAndAnswersKeys)
{
    const struct {
        const char* name;
        std::string seq;
        std::uint32_t baud;
        std::vector<Queued> keys;
        std::vector<std::uint64_t> times;  // of the drawings after the first, then the leaving
        std::string left;                  // what the final screen shows
    } cases[] = {
        {"300 baud: one code each 1/30 s", "ABC", 300, {}, {33334, 66667, 100000, 100000}, "ABC"},
        {"a pause holds the clock", "AB", 300, {{10000, " "}, {500000, " "}}, {533334, 566667, 566667}, "AB"},
        {"+ doubles 300 baud", "ABC", 300, {{40000, "+"}}, {33334, 56667, 73334, 73334}, "ABC"},
        {"- stays at 300 baud", "AB", 300, {{1, "-"}}, {33335, 66668, 66668}, "AB"},
        {"Enter draws up to the next clear", "AB\x93" "C", 300, {{10000, "\r"}}, {10000, 43334, 76667, 76667}, "C"},
        {"q quits as it stands", "ABC", 300, {{40000, "q"}}, {33334, 40000}, "A"},
        {"Esc quits, an arrow key does not", "ABC", 300, {{40000, "\x1b[A"}, {50000, "\x1b"}}, {33334, 50000}, "A"},
        {"1,200 codes at 9600 baud in 1.25 s and a frame", std::string(1200, 'A'), 9600, {},
         std::vector<std::uint64_t>(79), std::string(1200, 'A')},
    };
    for (const auto& sample : cases) {
        FakeConsole console;
        console.queue = sample.keys;
        console = play(sample.seq, sample.baud, console);
        std::vector<std::uint64_t> times(console.writeTimes.begin() + 1, console.writeTimes.end());
        if (sample.baud == 9600) {
            EXPECT_GE(times.back(), 1250000U) << sample.name;
            EXPECT_LE(times.back(), 1250000U + 16000U) << sample.name;
            for (std::size_t i = 1; i < times.size(); ++i)
                EXPECT_LE(times[i] - times[i - 1], 16000U) << sample.name;
        } else {
            EXPECT_EQ(times, sample.times) << sample.name;
        }
        FakeConsole none = play(sample.left, 0);
        EXPECT_TRUE(console.written.ends_with(none.written.substr(none.written.rfind("\x1b[?1049l")))) << sample.name;
    }
}

// Wherever the process wakes, a file gets the same bytes; with keys, the
// last screen stays until one comes.
TEST(TerminalWriter, SameBytesWhenWokenLateAndWaitsForAKeyAtTheEnd)
{
    const std::string seq = "\x93\x1cRED\x0dLINE\x14\x14" + std::string(500, 'X');
    FakeConsole late;
    late.late = 7919;
    EXPECT_EQ(play(seq, 2400, late).written, play(seq, 2400).written);
    FakeConsole keys;
    keys.withKeys = true;
    keys.queue = {{9000000, "x"}};
    EXPECT_EQ(play(seq, 0, keys).writeTimes.back(), 9000000U);
}
