#pragma once

// The live screen: SEQ codes released at a modem's pace into the screen
// editor, and the cells that changed drawn in place on a terminal, with keys
// to pause, change the pace, skip and quit.

#include "block_pump.h"
#include "screen_editor.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

/// A terminal's size in cells.
struct TerminalSize {
    unsigned columns = 80;
    unsigned rows = 25;
};

/// What ended a wait of the live view.
enum class LiveEvent {
    deadline,   // the time asked for came
    keys,       // keys were read
    resized,    // the terminal changed its size
    ended,      // a signal asks the run to end (Ctrl-C, SIGTERM, SIGHUP)
    stopped,    // Ctrl-Z asks the run to stop for now
    continued,  // the process runs again after a stop
};

/// What the live view needs of the world: a monotonic clock, the terminal
/// (or the file standing in for one) and its keys.
class LiveConsole {
public:
    virtual ~LiveConsole() = default;

    /// Microseconds on a clock that only moves forward.
    virtual std::uint64_t now() = 0;

    /// Sleeps until `now()` reaches `deadline`, or without end when `forever`,
    /// unless something happens first. Keys read are appended to `keys`.
    virtual LiveEvent wait(std::uint64_t deadline, bool forever, std::string& keys) = 0;

    /// Whether keys can come; without them nothing waits for one.
    virtual bool hasKeys() const = 0;

    /// The size the screen is centred in.
    virtual TerminalSize size() = 0;

    /// Writes all of `bytes`. Returns false with `error` set when it cannot.
    virtual bool write(const std::string& bytes, unsigned& error) = 0;

    /// Gives the terminal back its own modes and stops the process until it
    /// is continued; the terminal then takes keys again.
    virtual void stop() = 0;

    /// Says that a read of the input starts (true) or ended (false): one that
    /// may block must not keep a signal from ending the run.
    virtual void readingInput(bool reading) { static_cast<void>(reading); }

    /// Gives the terminal back its own modes. Returns the signal that asked
    /// the run to end, or 0.
    virtual int finish() = 0;
};

/// Draws the editor's screen on a terminal: centred, in a light blue frame
/// where there is room, only the cells that changed since the last drawing.
class TerminalWriter {
public:
    /// Appends what takes over the terminal (the alternate screen, no cursor)
    /// and draws the whole screen centred in `size`.
    void begin(const ScreenEditor& editor, TerminalSize size, std::string& out);

    /// Appends the cells that changed since the last drawing, all of them
    /// after a switch of character set, in synchronized-output brackets.
    void draw(const ScreenEditor& editor, std::string& out);

    /// Appends a drawing of the whole screen, centred in `size`.
    void redraw(const ScreenEditor& editor, TerminalSize size, std::string& out);

    /// Appends what gives the terminal back: colours reset, the cursor shown,
    /// the alternate screen left.
    static void restore(std::string& out);

private:
    void drawFrame(std::string& out) const;

    TerminalSize terminal;
    int top = 1;   // the terminal row of the screen's first row; may be off the terminal
    int left = 1;  // the terminal column of the screen's first column
    bool shownLowerCase = false;
    bool anyShown = false;
    std::array<std::uint8_t, screen::cellCount> shownCodes{};
    std::array<std::uint8_t, screen::cellCount> shownColours{};
};

/// How a live run ended.
struct LiveResult {
    PumpResult failure;  // a failed read or write, as in a conversion
    int signal = 0;      // the signal that asked the run to end, or 0
};

/// The pace a live run starts with and the set its screen starts in.
struct LiveSettings {
    std::uint32_t baud = 2400;  // bits a second, 10 a byte; 0 for no pacing
    bool lowerCase = false;
};

/// Plays SEQ codes on a LiveConsole: releases them at the pace, draws what
/// changed, answers keys, and leaves the final screen as the screen
/// direction writes it.
class LivePlayer {
public:
    /// Allocates the input block. Throws std::bad_alloc when memory is short.
    explicit LivePlayer(LiveSettings settings);

    /// Plays everything `input` holds on `console`. Returns the first failure
    /// and the signal that ended it early, if one did.
    LiveResult play(InputSource& input, LiveConsole& console);

private:
    enum class After { play, quit, fail };

    After release(InputSource& input, LiveConsole& console, std::uint64_t count, LiveResult& result);
    After skipToClear(InputSource& input, LiveConsole& console, LiveResult& result);
    bool fill(InputSource& input, LiveConsole& console, LiveResult& result);
    bool codesWaiting(InputSource& input, LiveConsole& console, LiveResult& result, After& after);
    bool send(LiveConsole& console, LiveResult& result);
    After answer(LiveEvent event, const std::string& keys, InputSource& input, LiveConsole& console,
                 LiveResult& result);
    void newSegment(std::uint64_t now);
    std::uint64_t frameTime(std::uint64_t frame) const;
    std::uint64_t frameEnd(std::uint64_t frame) const;

    LiveSettings settings;
    std::unique_ptr<char[]> block;
    std::size_t blockStart = 0;
    std::size_t blockEnd = 0;
    bool inputEnded = false;
    ScreenEditor editor;
    TerminalWriter writer;
    std::string pending;            // bytes for the console
    std::uint32_t baud = 0;         // the pace now
    std::uint64_t released = 0;     // codes printed so far
    std::uint64_t segmentStart = 0; // when the pace last started afresh
    std::uint64_t segmentBytes = 0; // codes released by then
    std::uint64_t frame = 0;        // frames of this segment drawn
    bool paused = false;
};

/// The console for the open output `output`: the terminal with its keys when
/// it is one, else a stand-in of 80 x 25 without keys.
std::unique_ptr<LiveConsole> makeSystemConsole(int output);

/// The paces the + and - keys step through, in bits a second; 0 is no pacing.
inline constexpr std::uint32_t paceSteps[] = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200, 0};
