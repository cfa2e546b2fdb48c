#include "screen_editor.h"

#include <algorithm>
#include <cstring>
#include <iterator>

using screen::cellCount;
using screen::columns;
using screen::plainSpace;
using screen::rows;

namespace {

constexpr std::uint8_t returnCode = 13;
constexpr std::uint8_t shiftedReturn = 141;
constexpr std::uint8_t deleteCode = 20;
constexpr std::uint8_t insertCode = 148;
constexpr std::uint8_t quoteCode = 34;

// The code that selects each colour, by colour number.
constexpr std::uint8_t colourCodes[16] = {144, 5, 28, 159, 156, 30, 31, 158, 129, 149, 150, 151, 152, 153, 154, 155};

constexpr bool isControl(std::size_t code)
{
    return code < 32 || (code >= 128 && code < 160);
}

// The screen code each code puts on the screen: printable codes always, and
// control codes when quote or insert mode shows them instead of acting.
constexpr std::array<std::uint8_t, 256> makeScreenCodes()
{
    std::array<std::uint8_t, 256> screenCodes{};
    for (std::size_t code = 0; code < 256; ++code) {
        std::size_t shown = 0;
        if (code < 32)
            shown = code + 128;  // reversed @ to left arrow
        else if (code < 64)
            shown = code;
        else if (code < 96)
            shown = code - 64;
        else if (code < 128)
            shown = code - 32;  // prints like 192-223
        else if (code < 160)
            shown = code + 64;  // reversed graphics of 64-95
        else if (code < 192)
            shown = code - 64;
        else if (code < 255)
            shown = code - 128;  // 224-254 print like 160-190
        else
            shown = 94;  // 255 prints like 126 and 222
        screenCodes[code] = static_cast<std::uint8_t>(shown);
    }
    return screenCodes;
}

constexpr std::array<std::uint8_t, 256> screenCodes = makeScreenCodes();

// The colour each colour code selects.
constexpr std::array<std::uint8_t, 256> makeColourOfCode()
{
    std::array<std::uint8_t, 256> colours{};
    for (std::uint8_t colour = 0; colour < 16; ++colour)
        colours[colourCodes[colour]] = colour;
    return colours;
}

constexpr std::array<std::uint8_t, 256> colourOfCode = makeColourOfCode();

// The modes, each with a table of its own: normal, quote mode, insert mode.
enum Mode : std::uint8_t { normal, quoted, inserting };

// What a code does in a mode. The loop takes the first three itself, without
// a branch between them; `act` takes the rest.
enum class Path : std::uint8_t {
    print,       // put a screen code at the cursor and move on
    none,        // do nothing
    colour,      // select a text colour
    put,         // put a screen code, counting the inserts or switching quote mode
    lineEnd,
    remove,
    insert,
    down,
    up,
    right,
    left,
    home,
    clear,
    reverseOn,
    reverseOff,
    lowerCase,
    upperCase,
};

// All the loop needs to know of a code, in eight bytes, so that the table is
// indexed without a multiply.
struct Step {
    Path path;
    std::uint8_t screenCode;  // stored at the cursor, or in the cursor's shadow; reverse included
    std::uint8_t colourKept;  // 0 for a colour code that acts, else all ones
    std::uint8_t colourSet;   // the colour it selects then, else 0
    std::uint8_t advance;     // 1 for a code that prints: the cursor moves right
    std::uint16_t away;       // 0 for a code that prints, else the shadow's offset
};
static_assert(sizeof(Step) == 8);

constexpr bool selectsColour(std::size_t code)
{
    return std::find(std::begin(colourCodes), std::end(colourCodes), code) != std::end(colourCodes);
}

constexpr Path pathOf(Mode mode, std::size_t code)
{
    if (code == returnCode || code == shiftedReturn)
        return Path::lineEnd;
    // In insert mode every other code counts the inserts down, or adds one.
    if (mode == inserting)
        return code == insertCode ? Path::insert : Path::put;
    if (code == quoteCode)
        return Path::put;
    if (code == deleteCode)
        return Path::remove;
    // Quote mode shows every other control code.
    if (!isControl(code) || mode == quoted)
        return Path::print;
    if (selectsColour(code))
        return Path::colour;
    switch (code) {
    case insertCode: return Path::insert;
    case 17: return Path::down;
    case 145: return Path::up;
    case 29: return Path::right;
    case 157: return Path::left;
    case 19: return Path::home;
    case 147: return Path::clear;
    case 18: return Path::reverseOn;
    case 146: return Path::reverseOff;
    case 14: return Path::lowerCase;
    case 142: return Path::upperCase;
    default: return Path::none;
    }
}

// The steps of `mode`; `reverse` is 128 while reverse is on. A shown control
// code is reversed already; reverse adds nothing to it.
constexpr std::array<Step, 256> makeSteps(Mode mode, std::uint8_t reverse, std::uint16_t shadow)
{
    std::array<Step, 256> steps{};
    for (std::size_t code = 0; code < 256; ++code) {
        const Path path = pathOf(mode, code);
        const bool selects = path == Path::colour;
        const bool prints = path == Path::print;
        steps[code] = {path,
                       static_cast<std::uint8_t>(screenCodes[code] | reverse),
                       static_cast<std::uint8_t>(selects ? 0 : 0xFF),
                       static_cast<std::uint8_t>(selects ? colourOfCode[code] : 0),
                       static_cast<std::uint8_t>(prints ? 1 : 0),
                       static_cast<std::uint16_t>(prints ? 0 : shadow)};
    }
    return steps;
}

}  // namespace

ScreenEditor::ScreenEditor()
{
    codes.fill(plainSpace);
    colours.fill(screen::lightBlue);
    for (std::size_t row = 0; row < rows; ++row)
        place[row] = static_cast<std::uint8_t>(row);
}

std::size_t ScreenEditor::print(const std::uint8_t* input, std::size_t size, ScreenOutput& to)
{
    // By mode, and within each without reverse and with it.
    static constexpr std::array<std::array<Step, 256>, 6> stepsByMode = {
        makeSteps(normal, 0, shadow),  makeSteps(normal, 128, shadow),    makeSteps(quoted, 0, shadow),
        makeSteps(quoted, 128, shadow), makeSteps(inserting, 0, shadow), makeSteps(inserting, 128, shadow)};
    output = &to;
    more = true;
    const std::uint8_t* next = input;
    const std::uint8_t* const end = input + size;
    // The loop's own copies of what the commonest codes use, so that they
    // stay in registers; `act` takes them from `state`.
    std::size_t rowStart = 0;
    std::size_t cell = 0;
    std::size_t rowEnd = 0;
    std::uint8_t colour = 0;
    const Step* steps = nullptr;
    // Only `act` and moving on from the last column change the cursor's row.
    const auto sync = [&] {
        state.column = cell - rowStart;
        state.colour = colour;
    };
    const auto resync = [&] {
        rowStart = place[state.row] * columns;
        cell = rowStart + state.column;
        rowEnd = rowStart + columns;
        colour = state.colour;
        const Mode mode = state.inserts != 0 ? inserting : state.quote ? quoted : normal;
        steps = stepsByMode[2 * mode + (state.reverse != 0 ? 1 : 0)].data();
    };
    resync();
    while (next != end) {
        // No code moves the cursor more than one cell, so only the last of
        // a chunk can reach the row's end: the loop checks one bound a code.
        const std::uint8_t* const chunkEnd = next + std::min<std::size_t>(end - next, rowEnd - cell);
        const Step* step = nullptr;
        while (next != chunkEnd) {
            step = &steps[*next++];
            if (step->path > Path::colour)
                break;
            // Random input mixes these codes at random: choosing without a
            // branch spares the many mispredicted ones. A colour code that
            // acts selects its colour; one shown in quote mode prints, and
            // keeps the colour as any other.
            colour = (colour & step->colourKept) | step->colourSet;
            // An index from the table, since compilers turn a choice into a branch.
            const std::size_t at = cell | step->away;
            codes[at] = step->screenCode;
            colours[at] = colour;
            cell += step->advance;
        }
        if (step != nullptr && step->path > Path::colour) {
            sync();
            act(static_cast<std::uint8_t>(step->path), next[-1]);
            if (state.inserts != 0)
                state.quote = false;
        } else if (cell == rowEnd) {
            // Printed in the last column: the links decide where the cursor goes.
            --cell;
            sync();
            moveOnFromLastColumn();
        } else {
            continue;
        }
        resync();
        if (!more)
            break;
    }
    sync();
    output = nullptr;
    return static_cast<std::size_t>(next - input);
}

ScreenRows ScreenEditor::screenRows() const
{
    ScreenRows screenRows{};
    for (std::size_t row = 0; row < rows; ++row) {
        screenRows.codes[row] = &codes[place[row] * columns];
        screenRows.colours[row] = &colours[place[row] * columns];
    }
    return screenRows;
}

void ScreenEditor::end(ScreenOutput& to) const
{
    to.inputEnded(screenRows(), state.lowerCase);
}

void ScreenEditor::act(std::uint8_t action, std::uint8_t code)
{
    switch (static_cast<Path>(action)) {
    case Path::put: return putCell(code);
    case Path::lineEnd: return lineEnd();
    case Path::remove: return remove();
    case Path::insert: return insert();
    case Path::down:  // from the last row the screen scrolls first
        if (state.row == rows - 1)
            state.row -= scroll();
        ++state.row;
        break;
    case Path::up:
        if (state.row > 0)
            --state.row;
        break;
    case Path::right:  // never linking rows
        if (state.column + 1 < columns) {
            ++state.column;
            break;
        }
        state.column = 0;
        if (state.row == rows - 1)
            state.row -= scroll();
        ++state.row;
        break;
    case Path::left:
        if (state.column > 0) {
            --state.column;
        } else if (state.row > 0) {
            --state.row;
            state.column = columns - 1;
        }
        break;
    case Path::home: state.row = state.column = 0; break;
    case Path::clear:
        more = output->screenCleared(screenRows(), state.lowerCase) && more;
        std::fill_n(codes.begin(), cellCount, plainSpace);
        std::fill_n(colours.begin(), cellCount, state.colour);
        linked.fill(false);
        state.row = state.column = 0;
        break;
    case Path::reverseOn: state.reverse = 128; break;
    case Path::reverseOff: state.reverse = 0; break;
    case Path::lowerCase: state.lowerCase = true; break;
    case Path::upperCase: state.lowerCase = false; break;
    case Path::print:
    case Path::none:
    case Path::colour: break;  // the loop's
    }
}

void ScreenEditor::putCell(std::uint8_t code)
{
    if (state.inserts != 0)
        --state.inserts;
    const std::size_t at = cellAt(state.row, state.column);
    codes[at] = screenCodes[code] | state.reverse;
    colours[at] = state.colour;
    if (code == quoteCode)
        state.quote = !state.quote;
    if (state.column + 1 < columns)
        ++state.column;
    else
        moveOnFromLastColumn();
}

void ScreenEditor::moveOnFromLastColumn()
{
    state.column = 0;
    // From the first row of an 80-column line into its second.
    if (state.row + 1 < rows && linked[state.row + 1]) {
        ++state.row;
        return;
    }
    const bool second = linked[state.row];
    if (state.row == rows - 1)
        state.row -= scroll();
    // From the second row the cursor goes to the line below; a one-row line
    // takes the row below as its second, whatever that row holds.
    if (!second) {
        linked[state.row + 1] = true;
        if (state.row + 2 < rows)
            linked[state.row + 2] = false;
    }
    ++state.row;
}

std::size_t ScreenEditor::scroll()
{
    // The whole top line leaves, one row at a time.
    const std::size_t count = linked[1] ? 2 : 1;
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t top = place[0] * columns;
        more = output->rowLeaves(&codes[top], &colours[top], state.lowerCase) && more;
        // The rows move up by their places alone; the top row's cells come
        // in at the bottom, blank.
        std::rotate(place.begin(), place.begin() + 1, place.end());
        std::copy(linked.begin() + 1, linked.end(), linked.begin());
        linked[rows - 1] = false;
        blankRow(rows - 1);
    }
    return count;
}

std::size_t ScreenEditor::lastRowOfLine(std::size_t row) const
{
    return row + 1 < rows && linked[row + 1] ? row + 1 : row;
}

void ScreenEditor::lineEnd()
{
    state.quote = false;
    state.reverse = 0;
    state.inserts = 0;
    std::size_t last = lastRowOfLine(state.row);
    if (last == rows - 1)
        last -= scroll();
    state.row = last + 1;
    state.column = 0;
}

void ScreenEditor::blank(std::size_t cell)
{
    codes[cell] = plainSpace;
    colours[cell] = state.colour;
}

void ScreenEditor::blankRow(std::size_t row)
{
    std::fill_n(&codes[cellAt(row, 0)], columns, plainSpace);
    std::fill_n(&colours[cellAt(row, 0)], columns, state.colour);
}

void ScreenEditor::move(std::size_t from, std::size_t to)
{
    codes[to] = codes[from];
    colours[to] = colours[from];
}

void ScreenEditor::remove()
{
    if (state.column == 0 && !linked[state.row]) {
        // At the start of a line: back to the end of the line above, and
        // nothing moves.
        if (state.row == 0)
            return;
        --state.row;
        state.column = columns - 1;
        return blank(cellAt(state.row, state.column));
    }
    if (state.column > 0) {
        --state.column;
    } else {
        --state.row;
        state.column = columns - 1;
    }
    // The rest of the line closes up, across the row boundary of an 80-column line.
    const std::size_t last = lastRowOfLine(state.row);
    for (std::size_t row = state.row, column = state.column;; ++row, column = 0) {
        const std::size_t start = cellAt(row, 0);
        std::memmove(&codes[start + column], &codes[start + column + 1], columns - 1 - column);
        std::memmove(&colours[start + column], &colours[start + column + 1], columns - 1 - column);
        if (row == last)
            return blank(start + columns - 1);
        move(cellAt(row + 1, 0), start + columns - 1);
    }
}

void ScreenEditor::insert()
{
    std::size_t last = lastRowOfLine(state.row);
    if (codes[cellAt(last, columns - 1)] != plainSpace || (state.row == last && state.column == columns - 1)) {
        // No room at the end of the line: an 80-column line takes no insert,
        // a 40-column one grows by a blank row.
        if (linked[last])
            return;
        if (last == rows - 1) {
            const std::size_t scrolled = scroll();
            state.row -= scrolled;
            last -= scrolled;
        } else {
            // The rows below move down by their places; the bottom row is
            // lost, and its cells become the new row.
            const std::uint8_t bottom = place[rows - 1];
            std::copy_backward(place.begin() + static_cast<std::ptrdiff_t>(last) + 1, place.end() - 1, place.end());
            place[last + 1] = bottom;
            std::copy_backward(linked.begin() + static_cast<std::ptrdiff_t>(last) + 1, linked.end() - 1,
                               linked.end());
            blankRow(last + 1);
        }
        linked[last + 1] = true;
        ++last;
    }
    // From the line's end back to the cursor, each cell moves one on; the
    // last cell's content is lost.
    for (std::size_t row = last;; --row) {
        const std::size_t start = cellAt(row, 0);
        const std::size_t column = row == state.row ? state.column : 0;
        std::memmove(&codes[start + column + 1], &codes[start + column], columns - 1 - column);
        std::memmove(&colours[start + column + 1], &colours[start + column], columns - 1 - column);
        if (row == state.row)
            break;
        move(cellAt(row - 1, columns - 1), start);
    }
    blank(cellAt(state.row, state.column));
    ++state.inserts;
}
