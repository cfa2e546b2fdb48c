#include "terminal_writer.h"

#include "platform.h"
#include "screen_writer.h"

#include <algorithm>
#include <cstring>

namespace {

using screen::columns;
using screen::rows;

constexpr std::size_t blockSize = 64 * 1024;
constexpr std::uint64_t microsecondsPerSecond = 1000000;
constexpr std::uint64_t bitsPerByte = 10;  // 8 data bits, a start and a stop bit
constexpr std::uint64_t frameMicroseconds = 16000;
// Without pacing, a frame is drawn for each this many codes.
constexpr std::uint64_t unpacedFrameBytes = 4096;
constexpr std::uint8_t clearCode = 147;

constexpr char syncStart[] = "\x1b[?2026h";
constexpr char syncEnd[] = "\x1b[0m\x1b[?2026l";

// A frame cell: a reversed space in light blue, the border colour at power-on.
constexpr std::uint8_t frameCode = 160;
const std::array<std::uint8_t, columns + 2> frameCodes = [] {
    std::array<std::uint8_t, columns + 2> codes{};
    codes.fill(frameCode);
    return codes;
}();
const std::array<std::uint8_t, columns + 2> frameColours = [] {
    std::array<std::uint8_t, columns + 2> colours{};
    colours.fill(screen::lightBlue);
    return colours;
}();

int floorHalf(int value)
{
    return value >= 0 ? value / 2 : -((1 - value) / 2);
}

void moveTo(int row, int column, std::string& out)
{
    out += "\x1b[";
    out += std::to_string(row);
    out += ';';
    out += std::to_string(column);
    out += 'H';
}

// Does nothing with rows that leave or clears: only the cells are drawn.
class Quiet final : public ScreenOutput {
public:
    bool rowLeaves(const std::uint8_t*, const std::uint8_t*, bool) override { return true; }
    bool screenCleared(const ScreenRows&, bool) override { return true; }
    void inputEnded(const ScreenRows&, bool) override {}
};
Quiet quiet;

}  // namespace

void TerminalWriter::begin(const ScreenEditor& editor, TerminalSize size, std::string& out)
{
    out += "\x1b[?1049h\x1b[?25l";
    redraw(editor, size, out);
}

void TerminalWriter::redraw(const ScreenEditor& editor, TerminalSize size, std::string& out)
{
    terminal.columns = std::max(size.columns, 1U);
    terminal.rows = std::max(size.rows, 1U);
    top = floorHalf(static_cast<int>(terminal.rows) - static_cast<int>(rows)) + 1;
    left = floorHalf(static_cast<int>(terminal.columns) - static_cast<int>(columns)) + 1;
    out += syncStart;
    out += "\x1b[0m\x1b[2J";
    drawFrame(out);
    anyShown = false;
    out += syncEnd;
    draw(editor, out);
}

void TerminalWriter::drawFrame(std::string& out) const
{
    const int width = static_cast<int>(terminal.columns);
    const int height = static_cast<int>(terminal.rows);
    const int first = std::max(left - 1, 1);
    const int last = std::min(left + static_cast<int>(columns), width);
    for (const int row : {top - 1, top + static_cast<int>(rows)}) {
        if (row >= 1 && row <= height && first <= last) {
            moveTo(row, first, out);
            appendAnsiCells(frameCodes.data(), frameColours.data(), static_cast<std::size_t>(last - first + 1), false,
                            out);
        }
    }
    for (int row = std::max(top, 1); row <= std::min(top + static_cast<int>(rows) - 1, height); ++row) {
        for (const int column : {left - 1, left + static_cast<int>(columns)}) {
            if (column >= 1 && column <= width) {
                moveTo(row, column, out);
                appendAnsiCells(frameCodes.data(), frameColours.data(), 1, false, out);
            }
        }
    }
}

void TerminalWriter::draw(const ScreenEditor& editor, std::string& out)
{
    const ScreenRows screen = editor.cells();
    const bool lowerCase = editor.lowerCase();
    // A switch of set changes every glyph at once.
    const bool all = !anyShown || lowerCase != shownLowerCase;
    // Only the columns that lie on the terminal are drawn.
    const int firstColumn = std::max(0, 1 - left);
    const int endColumn = std::min(static_cast<int>(columns), static_cast<int>(terminal.columns) - left + 1);
    const std::size_t size = out.size();
    out += syncStart;
    const std::size_t empty = out.size();
    for (std::size_t row = 0; row < rows; ++row) {
        const std::uint8_t* codes = screen.codes[row];
        const std::uint8_t* colours = screen.colours[row];
        std::uint8_t* shownRowCodes = &shownCodes[row * columns];
        std::uint8_t* shownRowColours = &shownColours[row * columns];
        const int terminalRow = top + static_cast<int>(row);
        if (terminalRow >= 1 && terminalRow <= static_cast<int>(terminal.rows)) {
            for (int column = firstColumn; column < endColumn;) {
                const auto changed = [&](int at) {
                    return all || codes[at] != shownRowCodes[at] || colours[at] != shownRowColours[at];
                };
                if (!changed(column)) {
                    ++column;
                    continue;
                }
                int end = column + 1;
                while (end < endColumn && changed(end))
                    ++end;
                moveTo(terminalRow, left + column, out);
                appendAnsiCells(codes + column, colours + column, static_cast<std::size_t>(end - column), lowerCase,
                                out);
                column = end;
            }
        }
        std::memcpy(shownRowCodes, codes, columns);
        std::memcpy(shownRowColours, colours, columns);
    }
    anyShown = true;
    shownLowerCase = lowerCase;
    if (out.size() == empty)
        out.resize(size);  // nothing changed: nothing is written
    else
        out += syncEnd;
}

void TerminalWriter::restore(std::string& out)
{
    out += "\x1b[0m\x1b[?25h\x1b[?1049l";
}

LivePlayer::LivePlayer(LiveSettings settings)
    : settings(settings), block(new char[blockSize]), baud(settings.baud)
{
    if (settings.lowerCase)
        editor.print(&lowerCaseCode, 1, quiet);
}

// Frames fall on a fixed grid from the start of a segment, whatever the
// moments the process wakes at, so that the bytes written depend on the
// input and the pace alone. Below 625 bits a second a code takes 16 ms or
// more, and each code is a frame of its own at the moment it arrives.
std::uint64_t LivePlayer::frameTime(std::uint64_t number) const
{
    if (baud == 0)
        return 0;
    if (baud * frameMicroseconds <= bitsPerByte * microsecondsPerSecond)
        return (number * bitsPerByte * microsecondsPerSecond + baud - 1) / baud;
    return number * frameMicroseconds;
}

// The codes released by the end of frame `number` of the segment.
std::uint64_t LivePlayer::frameEnd(std::uint64_t number) const
{
    if (baud == 0)
        return number * unpacedFrameBytes;
    if (baud * frameMicroseconds <= bitsPerByte * microsecondsPerSecond)
        return number;
    return number * frameMicroseconds * baud / (bitsPerByte * microsecondsPerSecond);
}

void LivePlayer::newSegment(std::uint64_t now)
{
    segmentStart = now;
    segmentBytes = released;
    frame = 0;
}

bool LivePlayer::fill(InputSource& input, LiveConsole& console, LiveResult& result)
{
    console.readingInput(true);
    unsigned error = 0;
    const std::ptrdiff_t count = input.read(block.get(), blockSize, error);
    console.readingInput(false);
    if (count < 0) {
        result.failure = {PumpResult::Failure::reading, error};
        return false;
    }
    blockStart = 0;
    blockEnd = static_cast<std::size_t>(count);
    inputEnded = count == 0;
    return true;
}

// Whether codes wait in the block, reading the next one when it is used up.
// When none will come, `after` says why: the input ended (play) or failed.
bool LivePlayer::codesWaiting(InputSource& input, LiveConsole& console, LiveResult& result, After& after)
{
    while (blockStart == blockEnd) {
        if (inputEnded) {
            after = After::play;
            return false;
        }
        if (!fill(input, console, result)) {
            after = After::fail;
            return false;
        }
    }
    return true;
}

LivePlayer::After LivePlayer::release(InputSource& input, LiveConsole& console, std::uint64_t count,
                                      LiveResult& result)
{
    while (count > 0) {
        if (After after = After::play; !codesWaiting(input, console, result, after))
            return after;
        const std::size_t size = static_cast<std::size_t>(std::min<std::uint64_t>(count, blockEnd - blockStart));
        editor.print(reinterpret_cast<const std::uint8_t*>(block.get() + blockStart), size, quiet);
        blockStart += size;
        released += size;
        count -= size;
    }
    return After::play;
}

// Prints at once up to the next clear after the next code, so that the
// screen being drawn shows finished; the clear itself comes at the pace.
LivePlayer::After LivePlayer::skipToClear(InputSource& input, LiveConsole& console, LiveResult& result)
{
    if (release(input, console, 1, result) == After::fail)
        return After::fail;
    for (;;) {
        if (After after = After::play; !codesWaiting(input, console, result, after))
            return after;
        const char* start = block.get() + blockStart;
        const void* found = std::memchr(start, clearCode, blockEnd - blockStart);
        const std::size_t size =
            found != nullptr ? static_cast<std::size_t>(static_cast<const char*>(found) - start) : blockEnd - blockStart;
        release(input, console, size, result);
        if (found != nullptr)
            return After::play;
    }
}

bool LivePlayer::send(LiveConsole& console, LiveResult& result)
{
    unsigned error = 0;
    const bool written = pending.empty() || console.write(pending, error);
    pending.clear();
    if (!written && result.failure.failure == PumpResult::Failure::none)
        result.failure = {PumpResult::Failure::writing, error};
    return written;
}

LivePlayer::After LivePlayer::answer(LiveEvent event, const std::string& keys, InputSource& input,
                                     LiveConsole& console, LiveResult& result)
{
    switch (event) {
    case LiveEvent::deadline: return After::play;
    case LiveEvent::ended: return After::quit;
    case LiveEvent::resized: writer.redraw(editor, console.size(), pending); break;
    case LiveEvent::stopped:
        TerminalWriter::restore(pending);
        if (!send(console, result))
            return After::fail;
        console.stop();
        [[fallthrough]];
    case LiveEvent::continued:
        writer.begin(editor, console.size(), pending);
        newSegment(console.now());
        break;
    case LiveEvent::keys:
        for (std::size_t i = 0; i < keys.size(); ++i) {
            const char key = keys[i];
            if (key == 'q' || key == 'Q')
                return After::quit;
            if (key == '\x1b') {
                // Esc alone quits; the other keys that send ESC and more
                // (arrows, function keys) do nothing.
                if (i + 1 == keys.size() || keys[i + 1] == '\x1b')
                    return After::quit;
                break;
            }
            if (key == ' ') {
                paused = !paused;
            } else if (key == '+' || key == '-') {
                const auto* const step = std::find(std::begin(paceSteps), std::end(paceSteps), baud);
                if (step != std::end(paceSteps)) {
                    if (key == '+' && step + 1 != std::end(paceSteps))
                        baud = step[1];
                    if (key == '-' && step != std::begin(paceSteps))
                        baud = step[-1];
                } else if (baud != 0) {
                    // A pace of the user's between two steps goes to the next one.
                    const auto* const above =
                        std::find_if(std::begin(paceSteps), std::end(paceSteps) - 1,
                                     [this](std::uint32_t pace) { return pace > baud; });
                    baud = key == '+' ? *above : above == std::begin(paceSteps) ? baud : above[-1];
                }
            } else if (key == '\r' || key == '\n') {
                if (skipToClear(input, console, result) == After::fail)
                    return After::fail;
                writer.draw(editor, pending);
            }
            newSegment(console.now());
        }
        break;
    }
    return send(console, result) ? After::play : After::fail;
}

LiveResult LivePlayer::play(InputSource& input, LiveConsole& console)
{
    LiveResult result;
    writer.begin(editor, console.size(), pending);
    After after = send(console, result) ? After::play : After::fail;
    newSegment(console.now());
    std::string keys;
    while (after == After::play && !(inputEnded && blockStart == blockEnd)) {
        keys.clear();
        const std::uint64_t deadline = segmentStart + frameTime(frame + 1);
        const LiveEvent event = console.wait(deadline, paused, keys);
        if (event != LiveEvent::deadline) {
            after = answer(event, keys, input, console, result);
            continue;
        }
        ++frame;
        const std::uint64_t due = segmentBytes + frameEnd(frame);
        after = release(input, console, due > released ? due - released : 0, result);
        writer.draw(editor, pending);
        if (!send(console, result))
            after = After::fail;
        // The end shows as soon as the last code, not a frame later.
        if (after == After::play && blockStart == blockEnd && !inputEnded && !fill(input, console, result))
            after = After::fail;
    }
    // The last screen stays until a key asks to go.
    while (after == After::play && console.hasKeys()) {
        keys.clear();
        const LiveEvent event = console.wait(0, true, keys);
        if (event == LiveEvent::keys || event == LiveEvent::ended)
            break;
        after = answer(event, keys, input, console, result);
    }
    // The screen as it stands goes into the scrollback once the terminal is
    // itself again; after a failed write there is nobody to tell.
    if (result.failure.failure != PumpResult::Failure::writing) {
        TerminalWriter::restore(pending);
        appendAnsiScreen(editor.cells(), editor.lowerCase(), pending);
        send(console, result);
    }
    result.signal = console.finish();
    return result;
}

namespace {

// The platform's terminal, or a file or pipe standing in for one of 80 x 25.
class SystemConsole final : public LiveConsole {
public:
    explicit SystemConsole(int output) : output(output), terminal(platform::isTerminal(output))
    {
        if (terminal) {
            std::string restore;
            TerminalWriter::restore(restore);
            keys = platform::startTerminal(output, restore);
        }
    }

    std::uint64_t now() override { return platform::monotonicMicroseconds(); }

    LiveEvent wait(std::uint64_t deadline, bool forever, std::string& read) override
    {
        if (!terminal) {
            platform::sleepUntil(deadline);
            return LiveEvent::deadline;
        }
        return static_cast<LiveEvent>(platform::waitForTerminal(deadline, forever, read));
    }

    bool hasKeys() const override { return keys; }

    TerminalSize size() override
    {
        TerminalSize size;
        if (terminal)
            platform::terminalSize(output, size.columns, size.rows);
        return size;
    }

    bool write(const std::string& bytes, unsigned& error) override
    {
        return platform::writeFile(output, bytes.data(), bytes.size(), error);
    }

    void stop() override { platform::stopTerminal(); }

    void readingInput(bool reading) override
    {
        if (terminal)
            platform::setTerminalInterruptible(reading);
    }

    int finish() override { return terminal ? platform::endTerminal() : 0; }

private:
    int output;
    bool terminal;
    bool keys = false;
};

static_assert(static_cast<int>(LiveEvent::continued) == static_cast<int>(platform::TerminalEvent::continued));

}  // namespace

std::unique_ptr<LiveConsole> makeSystemConsole(int output)
{
    return std::make_unique<SystemConsole>(output);
}
