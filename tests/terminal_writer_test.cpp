#include "ansi_reader.h"
#include "main.h"
#include "terminal_writer.h"

#include <gtest/gtest.h>
#include <cstring>
#include <map>
namespace {

struct Queued { std::uint64_t time; std::string keys; TerminalSize size = {}; };  // no keys: a new size

// A terminal whose clock moves only to the player's deadline (`late` after it, as a busy
// system wakes) or the next queued key; the input comes in pieces of 7 bytes.
struct FakeConsole final : LiveConsole, InputSource {
    std::uint64_t clock = 0, late = 0;
    std::vector<Queued> queue;
    TerminalSize terminal;
    bool withKeys = false;
    std::string input, written;
    std::vector<std::uint64_t> writeTimes;
    std::uint64_t now() override { return clock; }
    LiveEvent wait(std::uint64_t deadline, bool forever, std::string& keys) override
    {
        if (queue.empty() || (!forever && queue.front().time > deadline))
            return clock = std::max(clock, deadline + late), forever ? LiveEvent::ended : LiveEvent::deadline;
        const Queued next = queue.front();
        queue.erase(queue.begin());
        clock = std::max(clock, next.time), keys = next.keys, terminal = keys.empty() ? next.size : terminal;
        return keys.empty() ? LiveEvent::resized : LiveEvent::keys;
    }
    bool hasKeys() const override { return withKeys; }
    TerminalSize size() override { return terminal; }
    bool write(const std::string& bytes, unsigned&) override { return written += bytes, writeTimes.push_back(clock), true; }
    void stop() override {}
    int finish() override { return 0; }
    std::ptrdiff_t read(void* data, std::size_t size, unsigned&) override
    {
        const std::size_t count = std::min({size, input.size(), std::size_t{7}});
        std::memcpy(data, input.data(), count);
        return input.erase(0, count), static_cast<std::ptrdiff_t>(count);
    }
    FakeConsole& play(const std::string& seq, std::uint32_t baud, bool lowerCase = false)
    {
        return input = seq, LivePlayer(LiveSettings{baud, lowerCase}).play(*this, *this), *this;
    }
};

using Cell = std::tuple<char32_t, int, int>;       // glyph, foreground, background
using Grid = std::map<std::pair<int, int>, Cell>;  // by row and column, from 1

// What a terminal shows after `bytes`.
Grid emulate(std::string_view bytes)
{
    Grid grid;
    int row = 1, column = 1, colours[2] = {-1, -1};
    for (std::size_t at = 0; at < bytes.size();) {
        if (bytes.substr(at, 2) != "\x1b[") {
            const char32_t glyph = ansiReader::readUtf8(bytes, at);
            if (glyph == U'\n' || glyph == 0)
                row += 1, column = 1, at += glyph == 0 ? bytes.size() : 0;
            else
                grid[{row, column++}] = {glyph, glyph == U' ' ? -1 : colours[0], colours[1]};  // a space shows none
            continue;
        }
        const std::size_t end = bytes.find_first_of("mHJhl", at + 2);
        const std::string sequence(bytes.substr(at, end - at + 1));
        int colour = -1;
        if (const int layer = ansiReader::readColour(bytes, at, colour); layer != 0)
            colours[layer - 3] = colour;
        else if (sequence == "\x1b[0m" || sequence == "\x1b[2J")
            colours[0] = colours[1] = -1, grid = sequence == "\x1b[2J" ? Grid{} : grid;
        else if (sequence.ends_with('H'))
            std::sscanf(sequence.c_str(), "\x1b[%d;%dH", &row, &column);
        at = end + 1;
    }
    return grid;
}

}  // namespace

// The screen left before the terminal is given back, against the final screen -d=ansi writes.
TEST(TerminalWriter, DrawsTheEditorsScreenCentredAtThePaceAndAnswersKeys)
{
    std::string scrolls;
    for (int line = 0; line < 30; ++line)
        scrolls += "\x1c" "LINE " + std::to_string(line) + "\x12 X\x0d";
    const struct { std::string seq; TerminalSize size; std::vector<Queued> events; bool lowerCase; } cases[] = {
        {"\x93\x05HELLO\x0dWORLD" + std::string(20, '\x1d') + "\x0e", {80, 25}, {}, false},  // set 2 comes later
        {"AB\x11\x1d\x1d\x9e" "C\x14\x94\x12" "D", {100, 30}, {}, true},
        {scrolls + "\x13\x91", {30, 10}, {}, false},
        {scrolls, {100, 30}, {{50000, "", {41, 27}}}, false},
        {scrolls, {42, 24}, {{50000, "", {43, 28}}}, false},
    };
    for (const auto& sample : cases) {
        FakeConsole console;
        console.terminal = sample.size, console.queue = sample.events;
        console.play(sample.seq, 9600, sample.lowerCase);
        const std::size_t leaving = console.written.rfind("\x1b[0m\x1b[?25h\x1b[?1049l");
        const Grid shown = emulate(std::string_view(console.written).substr(0, leaving));
        const std::unique_ptr<BlockConverter> ansi = makeConverter('a', {.lowerCase = sample.lowerCase});  // -d=ansi's final screen
        std::string screen(ansi->outputRoom(sample.seq.size()), '\0');
        ansi->convert(sample.seq.data(), sample.seq.size(), screen.data(), screen.size());
        screen.resize(ansi->finish(screen.data(), screen.size()));
        EXPECT_TRUE(console.written.starts_with("\x1b[?1049h\x1b[?25l"));
        EXPECT_TRUE(!sample.lowerCase || screen.ends_with("d\x1b[0m\n"));  // D in set 2
        EXPECT_EQ(console.written.substr(leaving), "\x1b[0m\x1b[?25h\x1b[?1049l" + screen);
        // The final screen centred, a light blue frame round it, nothing else.
        const Grid expected = emulate(screen);
        const int width = static_cast<int>(console.terminal.columns), height = static_cast<int>(console.terminal.rows);
        const int top = (height - 25 + 100) / 2 - 50, left = (width - 40 + 100) / 2 - 50;
        Grid want;
        for (int y = 0; y <= 26; ++y)
            for (int x = 0; x <= 41; ++x)
                if (top + y >= 1 && top + y <= height && left + x >= 1 && left + x <= width)
                    want[{top + y, left + x}] = y < 1 || y > 25 || x < 1 || x > 40 ? Cell{U' ', -1, 14}
                                                : expected.count({y, x}) ? expected.at({y, x}) : Cell{U' ', -1, 0};
        EXPECT_TRUE(shown == want) << sample.seq;
    }
    // When each drawing is written (µs): N / 10 codes a second, pausing, stepping the pace, skipping, quitting.
    // The times of the drawings after the first (the last leaving), and the final screen's last row.
    const struct { const char* name; std::string seq; std::uint32_t baud; std::vector<Queued> keys;
                   std::vector<std::uint64_t> times; std::string left; } paces[] = {
        {"300 baud: one code each 1/30 s", "ABC", 300, {}, {33334, 66667, 100000, 100000}, "ABC"},
        {"a pause holds the clock", "AB", 300, {{10000, " "}, {500000, " "}}, {533334, 566667, 566667}, "AB"},
        {"+ doubles 300 baud", "ABC", 300, {{40000, "+"}}, {33334, 56667, 73334, 73334}, "ABC"},
        {"+ steps 1000 baud to 1200", "ABC", 1000, {{1, "+"}}, {16001, 32001, 32001}, "ABC"},
        {"Enter draws up to the next clear", "AB\x93" "C", 300, {{10000, "\r"}}, {10000, 43334, 76667, 76667}, "C"},
        {"q quits as it stands", "ABC", 300, {{40000, "q"}}, {33334, 40000}, "A"},
        {"Esc quits, an arrow key does not", "ABC", 300, {{40000, "\x1b[A"}, {50000, "\x1b"}}, {33334, 50000}, "A"},
    };
    for (const auto& sample : paces) {
        FakeConsole console;
        console.queue = sample.keys, console.play(sample.seq, sample.baud);
        EXPECT_EQ(std::vector<std::uint64_t>(console.writeTimes.begin() + 1, console.writeTimes.end()), sample.times)
            << sample.name;
        EXPECT_TRUE(console.written.ends_with(sample.left + "\x1b[0m\n")) << sample.name;
    }
    // 1,200 codes at 9600 baud take 1.25 s, drawn in steps of 16 ms at most.
    const std::vector<std::uint64_t> times = FakeConsole().play(std::string(1200, 'A'), 9600).writeTimes;
    EXPECT_TRUE(times.back() >= 1250000 && times.back() <= 1250000 + 16000) << times.back();
    for (std::size_t i = 1; i < times.size(); ++i)
        EXPECT_LE(times[i] - times[i - 1], 16000U);
    // A file gets the same bytes wherever the process wakes; with keys, the last screen stays until one comes.
    const std::string seq = "\x93\x1cRED\x0dLINE\x14\x14" + std::string(500, 'X');
    FakeConsole late, keys;
    late.late = 7919, keys.withKeys = true, keys.queue = {{9000000, "x"}};
    EXPECT_EQ(late.play(seq, 2400).written, FakeConsole().play(seq, 2400).written);
    EXPECT_EQ(keys.play(seq, 0).writeTimes.back(), 9000000U);
}
