#pragma once

// The C64 screen editor: what each SEQ code does to a screen of 40 by 25
// cells, their colours, the links that join rows into 80-column lines, the
// cursor and the modes. What is made of the screen is left to an output.

#include <array>
#include <cstddef>
#include <cstdint>

namespace screen {

inline constexpr std::size_t columns = 40;
inline constexpr std::size_t rows = 25;
inline constexpr std::size_t cellCount = rows * columns;
inline constexpr std::uint8_t plainSpace = 32;  // screen code of a space, not reversed
inline constexpr std::uint8_t lightBlue = 14;   // the text colour at power-on

}  // namespace screen

/// The rows of the screen, top to bottom: for each its 40 screen codes and
/// its 40 colours.
struct ScreenRows {
    std::array<const std::uint8_t*, screen::rows> codes;
    std::array<const std::uint8_t*, screen::rows> colours;
};

/// What the editor tells the output it feeds. Cells come row by row, each a
/// screen code (128 and up reversed) and a colour 0-15; `lowerCase` says that
/// character set 2 shows them. Each call that returns false asks the editor to
/// stop taking codes once the current one is done.
class ScreenOutput {
public:
    virtual ~ScreenOutput() = default;

    /// Row 0, the 40 cells at `codes` and `colours`, is leaving at the top.
    virtual bool rowLeaves(const std::uint8_t* codes, const std::uint8_t* colours, bool lowerCase) = 0;

    /// The whole screen, as it was just before a clear.
    virtual bool screenCleared(const ScreenRows& screen, bool lowerCase) = 0;

    /// The whole screen, as the input left it.
    virtual void inputEnded(const ScreenRows& screen, bool lowerCase) = 0;
};

/// The screen as the machine has it just after power-on, and what each code
/// printed to it does.
class ScreenEditor {
public:
    ScreenEditor();

    /// Prints the `size` codes at `input`, telling `output` of each row that
    /// leaves and each clear. Returns the codes taken: all, or fewer where
    /// `output` asked to stop.
    std::size_t print(const std::uint8_t* input, std::size_t size, ScreenOutput& output);

    /// Tells `output` that the input has ended.
    void end(ScreenOutput& output) const;

    /// The cursor's row, 0-24.
    std::size_t cursorRow() const { return state.row; }

    /// The cursor's column, 0-39.
    std::size_t cursorColumn() const { return state.column; }

    /// Whether `row` continues the row above it in one 80-column line.
    bool continues(std::size_t row) const { return linked[row]; }

    /// The screen as it stands between two calls of print.
    ScreenRows cells() const { return screenRows(); }

    /// Whether character set 2 (lower and upper case) shows the screen.
    bool lowerCase() const { return state.lowerCase; }

private:
    // Everything besides the cells. The loop that prints works on a local
    // copy, which the compiler can keep in registers: the cells are bytes,
    // and a store to bytes could change any member.
    struct State {
        std::size_t row = 0;
        std::size_t column = 0;
        std::uint8_t colour = screen::lightBlue;  // the text colour
        std::uint8_t reverse = 0;                 // 128 while reverse is on
        std::uint8_t inserts = 0;                 // inserts pending; wraps as on the machine
        bool quote = false;
        bool lowerCase = false;                   // character set 2 is on
    };

    // The codes the loop leaves to these all go through `act`, which the
    // loop tells what the code does in the mode of the moment.
    void act(std::uint8_t action, std::uint8_t code);
    void putCell(std::uint8_t code);
    void moveOnFromLastColumn();
    std::size_t scroll();
    std::size_t lastRowOfLine(std::size_t row) const;
    void lineEnd();
    void remove();
    void insert();
    void blank(std::size_t cell);
    void blankRow(std::size_t row);
    void move(std::size_t from, std::size_t to);
    ScreenRows screenRows() const;

    // Where row `row`'s cell in `column` is kept.
    std::size_t cellAt(std::size_t row, std::size_t column) const { return place[row] * screen::columns + column; }

    // A cell that prints nothing stores into its shadow, a second screen
    // that no output sees, so that the loop needs no branch for it.
    static constexpr std::size_t shadow = 1024;
    static_assert(screen::cellCount <= shadow, "a cell's shadow is the cell with this bit set");

    std::array<std::uint8_t, shadow + screen::cellCount> codes;
    std::array<std::uint8_t, shadow + screen::cellCount> colours;
    std::array<bool, screen::rows> linked{};       // the row continues the one above
    // Where each row's cells are kept, by row: scrolling moves the places,
    // not the cells.
    std::array<std::uint8_t, screen::rows> place{};
    State state;
    ScreenOutput* output = nullptr;  // while printing
    bool more = true;                // no output asked to stop
};
