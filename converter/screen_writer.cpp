#include "screen_writer.h"

#include "code_table.h"
#include "screen_editor.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

namespace {

using screen::columns;
using screen::plainSpace;
using screen::rows;

constexpr std::uint8_t black = 0;

// The glyph of each screen code 0-127 in character set 1 (upper case and
// graphics, the one at power-on); codes 128-255 draw the same glyphs in
// reverse video. A few are the right Unicode character but not the exact
// shape: the machine draws its one-eighth lines and corner strokes two pixels
// thick, so 66 and 93, 67 and 64, 101 and 116, 103 and 106 look alike there
// but not in a terminal font.
constexpr char32_t upperCaseGlyphs[128] = {
    0x0040, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 0-7
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 8-15
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 16-23
    0x0058, 0x0059, 0x005A, 0x005B, 0x00A3, 0x005D, 0x2191, 0x2190,  // 24-31
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 32-39
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 40-47
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 48-55
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 56-63
    0x2500, 0x2660, 0x1FB72, 0x1FB78, 0x1FB77, 0x1FB76, 0x1FB7A, 0x1FB71,  // 64-71
    0x1FB74, 0x256E, 0x2570, 0x256F, 0x1FB7C, 0x2572, 0x2571, 0x1FB7D,  // 72-79
    0x1FB7E, 0x25CF, 0x1FB7B, 0x2665, 0x1FB70, 0x256D, 0x2573, 0x25CB,  // 80-87
    0x2663, 0x1FB75, 0x2666, 0x253C, 0x1FB8C, 0x2502, 0x03C0, 0x25E5,  // 88-95
    0x00A0, 0x258C, 0x2584, 0x2594, 0x2581, 0x258F, 0x2592, 0x2595,  // 96-103
    0x1FB8F, 0x25E4, 0x1FB87, 0x251C, 0x2597, 0x2514, 0x2510, 0x2582,  // 104-111
    0x250C, 0x2534, 0x252C, 0x2524, 0x258E, 0x258D, 0x1FB88, 0x1FB82,  // 112-119
    0x1FB83, 0x2583, 0x1FB7F, 0x2596, 0x259D, 0x2518, 0x2598, 0x259A,  // 120-127
};

// Character set 2 (lower and upper case), with the same approximations.
constexpr char32_t lowerCaseGlyphs[128] = {
    0x0040, 0x0061, 0x0062, 0x0063, 0x0064, 0x0065, 0x0066, 0x0067,  // 0-7
    0x0068, 0x0069, 0x006A, 0x006B, 0x006C, 0x006D, 0x006E, 0x006F,  // 8-15
    0x0070, 0x0071, 0x0072, 0x0073, 0x0074, 0x0075, 0x0076, 0x0077,  // 16-23
    0x0078, 0x0079, 0x007A, 0x005B, 0x00A3, 0x005D, 0x2191, 0x2190,  // 24-31
    0x0020, 0x0021, 0x0022, 0x0023, 0x0024, 0x0025, 0x0026, 0x0027,  // 32-39
    0x0028, 0x0029, 0x002A, 0x002B, 0x002C, 0x002D, 0x002E, 0x002F,  // 40-47
    0x0030, 0x0031, 0x0032, 0x0033, 0x0034, 0x0035, 0x0036, 0x0037,  // 48-55
    0x0038, 0x0039, 0x003A, 0x003B, 0x003C, 0x003D, 0x003E, 0x003F,  // 56-63
    0x2500, 0x0041, 0x0042, 0x0043, 0x0044, 0x0045, 0x0046, 0x0047,  // 64-71
    0x0048, 0x0049, 0x004A, 0x004B, 0x004C, 0x004D, 0x004E, 0x004F,  // 72-79
    0x0050, 0x0051, 0x0052, 0x0053, 0x0054, 0x0055, 0x0056, 0x0057,  // 80-87
    0x0058, 0x0059, 0x005A, 0x253C, 0x1FB8C, 0x2502, 0x1FB96, 0x1FB98,  // 88-95
    0x00A0, 0x258C, 0x2584, 0x2594, 0x2581, 0x258F, 0x2592, 0x2595,  // 96-103
    0x1FB8F, 0x1FB99, 0x1FB87, 0x251C, 0x2597, 0x2514, 0x2510, 0x2582,  // 104-111
    0x250C, 0x2534, 0x252C, 0x2524, 0x258E, 0x258D, 0x1FB88, 0x1FB82,  // 112-119
    0x1FB83, 0x2583, 0x2713, 0x2596, 0x259D, 0x2518, 0x2598, 0x259A,  // 120-127
};

struct Rgb {
    std::uint8_t red, green, blue;
};

// The 16 colours by number, as measured on the machine's video chip.
constexpr Rgb palette[16] = {
    {0x00, 0x00, 0x00},  // 0 black
    {0xFF, 0xFF, 0xFF},  // 1 white
    {0x81, 0x33, 0x38},  // 2 red
    {0x75, 0xCE, 0xC8},  // 3 cyan
    {0x8E, 0x3C, 0x97},  // 4 purple
    {0x56, 0xAC, 0x4D},  // 5 green
    {0x2E, 0x2C, 0x9B},  // 6 blue
    {0xED, 0xF1, 0x71},  // 7 yellow
    {0x8E, 0x50, 0x29},  // 8 orange
    {0x55, 0x38, 0x00},  // 9 brown
    {0xC4, 0x6C, 0x71},  // 10 light red
    {0x4A, 0x4A, 0x4A},  // 11 dark grey
    {0x7B, 0x7B, 0x7B},  // 12 grey
    {0xA9, 0xFF, 0x9F},  // 13 light green
    {0x70, 0x6D, 0xEB},  // 14 light blue
    {0xB2, 0xB2, 0xB2},  // 15 light grey
};

// Bytes to write kept in a fixed slot with their length in the last byte, so
// that one copy of the whole slot writes them; the bytes copied past the
// length are written over by what follows (the room allows for the last).
template <std::size_t Size>
struct Slot {
    char bytes[Size - 1];
    std::uint8_t length;
};

using GlyphSlot = Slot<8>;
using SequenceSlot = Slot<24>;

constexpr GlyphSlot utf8(char32_t point)
{
    GlyphSlot slot{};
    const auto byte = [](char32_t value) { return static_cast<char>(static_cast<unsigned char>(value)); };
    if (point < 0x80) {
        slot.bytes[0] = byte(point);
        slot.length = 1;
    } else if (point < 0x800) {
        slot.bytes[0] = byte(0xC0 | point >> 6);
        slot.bytes[1] = byte(0x80 | (point & 0x3F));
        slot.length = 2;
    } else if (point < 0x10000) {
        slot.bytes[0] = byte(0xE0 | point >> 12);
        slot.bytes[1] = byte(0x80 | (point >> 6 & 0x3F));
        slot.bytes[2] = byte(0x80 | (point & 0x3F));
        slot.length = 3;
    } else {
        slot.bytes[0] = byte(0xF0 | point >> 18);
        slot.bytes[1] = byte(0x80 | (point >> 12 & 0x3F));
        slot.bytes[2] = byte(0x80 | (point >> 6 & 0x3F));
        slot.bytes[3] = byte(0x80 | (point & 0x3F));
        slot.length = 4;
    }
    return slot;
}

// Glyphs in UTF-8 by screen code, reversed ones too: [0] for character set 1,
// [1] for set 2.
constexpr std::array<std::array<GlyphSlot, 256>, 2> makeGlyphSlots()
{
    std::array<std::array<GlyphSlot, 256>, 2> slots{};
    for (std::size_t code = 0; code < 256; ++code) {
        slots[0][code] = utf8(upperCaseGlyphs[code & 127]);
        slots[1][code] = utf8(lowerCaseGlyphs[code & 127]);
    }
    return slots;
}

constexpr std::array<std::array<GlyphSlot, 256>, 2> glyphSlots = makeGlyphSlots();

// "ESC[38;2;R;G;Bm" (foreground 38) or "ESC[48;2;R;G;Bm" (background 48).
constexpr SequenceSlot colourSequence(char layer, Rgb rgb)
{
    SequenceSlot slot{};
    std::size_t length = 0;
    const auto add = [&](char ch) { slot.bytes[length++] = ch; };
    const auto addNumber = [&](std::uint8_t value) {
        if (value >= 100)
            add(static_cast<char>('0' + value / 100));
        if (value >= 10)
            add(static_cast<char>('0' + value / 10 % 10));
        add(static_cast<char>('0' + value % 10));
    };
    for (const char ch : {'\x1b', '[', layer, '8', ';', '2', ';'})
        add(ch);
    addNumber(rgb.red);
    add(';');
    addNumber(rgb.green);
    add(';');
    addNumber(rgb.blue);
    add('m');
    slot.length = static_cast<std::uint8_t>(length);
    return slot;
}

// [0] foregrounds, [1] backgrounds, by colour number.
constexpr std::array<std::array<SequenceSlot, 16>, 2> makeSequences()
{
    std::array<std::array<SequenceSlot, 16>, 2> sequences{};
    for (std::size_t colour = 0; colour < 16; ++colour) {
        sequences[0][colour] = colourSequence('3', palette[colour]);
        sequences[1][colour] = colourSequence('4', palette[colour]);
    }
    return sequences;
}

constexpr std::array<std::array<SequenceSlot, 16>, 2> sequences = makeSequences();

constexpr std::size_t longestSequence = 19;  // "ESC[38;2;255;255;255m"
static_assert(std::all_of(sequences.begin(), sequences.end(), [](const auto& layer) {
    return std::all_of(layer.begin(), layer.end(),
                       [](const SequenceSlot& slot) { return slot.length <= longestSequence; });
}));

// The colours a cell shows as foreground | background << 8, by its look: its
// colour, plus 128 when its screen code is reversed. An ordinary cell shows
// its colour on black, a reversed one black on its colour.
constexpr std::size_t reversedLook = 128;
constexpr std::array<std::uint16_t, reversedLook + 16> makeColourPairs()
{
    std::array<std::uint16_t, reversedLook + 16> pairs{};
    for (std::uint16_t colour = 0; colour < 16; ++colour) {
        pairs[colour] = static_cast<std::uint16_t>(colour | black << 8);
        pairs[reversedLook + colour] = static_cast<std::uint16_t>(black | colour << 8);
    }
    return pairs;
}

constexpr std::array<std::uint16_t, reversedLook + 16> colourPairs = makeColourPairs();

constexpr char rowEnd[] = "\x1b[0m\n";
constexpr std::size_t rowEndLength = sizeof rowEnd - 1;

// The longest a row can be written: every cell changes both colours, and the
// glyph is four bytes.
constexpr std::size_t maxRowBytes = columns * (2 * longestSequence + 4) + rowEndLength;

// The most one code can write is the whole screen (a clear), plus one slot:
// whole slots are copied, and may reach that far past the bytes they keep.
constexpr std::size_t maxBytesPerCode = rows * maxRowBytes + sizeof(SequenceSlot);

// Copies a colour sequence and keeps it if `wanted`.
char* copySlotIf(const SequenceSlot& slot, bool wanted, char* out)
{
    std::memcpy(out, slot.bytes, sizeof slot.bytes);
    return out + (slot.length & (0U - static_cast<unsigned>(wanted)));
}

// A glyph is at most four bytes: one four-byte store.
char* copyGlyph(const GlyphSlot& slot, char* out)
{
    std::memcpy(out, slot.bytes, 4);
    return out + slot.length;
}

// The number of cells of the row at `start` up to its last that is not a plain space.
std::size_t usedLength(const std::uint8_t* start)
{
    std::size_t end = columns;
    // Eight cells at a time while they are all plain spaces.
    constexpr std::uint64_t spaces = 0x2020202020202020ULL;
    while (end > 0 && codeTable::load64(reinterpret_cast<const char*>(start + end - 8)) == spaces)
        end -= 8;
    while (end > 0 && start[end - 1] == plainSpace)
        --end;
    return end;
}

// Writes the row at `lineCodes` and `lineColours` up to its last cell that is
// not a plain space.
char* writeRow(const std::uint8_t* lineCodes, const std::uint8_t* lineColours, bool lowerCase, char* out)
{
    const std::size_t end = usedLength(lineCodes);
    if (end == 0) {
        *out++ = '\n';
        return out;
    }
    const std::array<GlyphSlot, 256>& glyphs = glyphSlots[lowerCase ? 1 : 0];
    // Neighbouring cells mostly look alike: the colours are looked up
    // only where the look changes. Two looks can show the same colours
    // (black either way), which writes no sequence, as two equal cells.
    std::size_t shownLook = 0xFF;  // no look: the first cell writes both colours
    std::uint16_t shown = 0xFFFF;  // foreground in the low byte, background in the high
    for (std::size_t i = 0; i < end; ++i) {
        const std::uint8_t code = lineCodes[i];
        const std::size_t look = (code & reversedLook) | lineColours[i];
        if (look != shownLook) {
            shownLook = look;
            const std::uint16_t pair = colourPairs[look];
            // Both sequences are copied and each kept where its colour
            // changes: which of the two does is a coin toss on random input.
            const unsigned changed = pair ^ shown;
            out = copySlotIf(sequences[0][pair & 0xFF], (changed & 0xFF) != 0, out);
            out = copySlotIf(sequences[1][pair >> 8], (changed >> 8) != 0, out);
            shown = pair;
        }
        out = copyGlyph(glyphs[code], out);
    }
    std::memcpy(out, rowEnd, rowEndLength);
    return out + rowEndLength;
}

// Writes rows 0 to the last that holds anything but plain spaces.
char* writeScreen(const ScreenRows& screen, bool lowerCase, char* out)
{
    std::size_t used = rows;
    while (used > 0 && usedLength(screen.codes[used - 1]) == 0)
        --used;
    for (std::size_t line = 0; line < used; ++line)
        out = writeRow(screen.codes[line], screen.colours[line], lowerCase, out);
    return out;
}

// The writer of the rows the editor hands out.
class AnsiScreen final : public BlockConverter, private ScreenOutput {
public:
    // Room for five bytes a code: random codes write about four and a half,
    // so a block usually goes out in one piece, as in the other directions,
    // and not in several that each wait for the writer.
    std::size_t outputRoom(std::size_t blockSize) const override { return 5 * blockSize + maxBytesPerCode; }

    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        // A code is taken only while what it may write still fits.
        if (room < maxBytesPerCode)
            return {0, 0};
        out = output;
        lastRoom = output + room - maxBytesPerCode;
        const std::size_t taken = editor.print(reinterpret_cast<const std::uint8_t*>(input), size, *this);
        return {taken, static_cast<std::size_t>(out - output)};
    }

    std::size_t finish(char* output, std::size_t) override
    {
        out = output;
        editor.end(*this);
        return static_cast<std::size_t>(out - output);
    }

private:
    bool rowLeaves(const std::uint8_t* codes, const std::uint8_t* colours, bool lowerCase) override
    {
        out = writeRow(codes, colours, lowerCase, out);
        return out <= lastRoom;
    }

    bool screenCleared(const ScreenRows& screen, bool lowerCase) override
    {
        out = writeScreen(screen, lowerCase, out);
        return out <= lastRoom;
    }

    void inputEnded(const ScreenRows& screen, bool lowerCase) override { out = writeScreen(screen, lowerCase, out); }

    ScreenEditor editor;
    char* out = nullptr;             // where the next byte goes
    const char* lastRoom = nullptr;  // past this, the next code may not fit
};

}  // namespace

std::unique_ptr<BlockConverter> makeAnsiScreen()
{
    return std::make_unique<AnsiScreen>();
}
