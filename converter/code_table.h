#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

/// Length of one table slot: a form of at most 19 characters and its terminator.
inline constexpr std::size_t formSlotSize = 20;

/// Length of the longest form in the table ("{LEFTARROW}").
inline constexpr std::size_t longestFormLength = 11;

/// The text form of every PETSCII code, indexed by the code; each slot is NUL-padded.
// Printable characters stand for themselves with upper and lower case swapped
// (text "a" is code 65, text "A" is code 97), code 13 is the line end, and
// every other code is a named tag or its number in braces.
inline constexpr char codeText[256][formSlotSize] = {
    "{0}", "{1}", "{2}", "{STOP}", "{4}", "{WHITE}", "{6}", "{7}",  // 0-7
    "{DCS}", "{ECS}", "{10}", "{11}", "{12}", "\n", "{LCS}", "{15}",  // 8-15
    "{16}", "{DOWN}", "{RVON}", "{HOME}", "{DELETE}", "{21}", "{22}", "{23}",  // 16-23
    "{24}", "{25}", "{26}", "{27}", "{RED}", "{RIGHT}", "{GREEN}", "{BLUE}",  // 24-31
    " ", "!", "{QUOTE}", "#", "$", "%", "&", "'",  // 32-39
    "(", ")", "*", "+", ",", "-", ".", "/",  // 40-47
    "0", "1", "2", "3", "4", "5", "6", "7",  // 48-55
    "8", "9", ":", ";", "<", "=", ">", "?",  // 56-63
    "@", "a", "b", "c", "d", "e", "f", "g",  // 64-71
    "h", "i", "j", "k", "l", "m", "n", "o",  // 72-79
    "p", "q", "r", "s", "t", "u", "v", "w",  // 80-87
    "x", "y", "z", "[", "{POUND}", "]", "{UPARROW}", "{LEFTARROW}",  // 88-95
    "{96}", "A", "B", "C", "D", "E", "F", "G",  // 96-103
    "H", "I", "J", "K", "L", "M", "N", "O",  // 104-111
    "P", "Q", "R", "S", "T", "U", "V", "W",  // 112-119
    "X", "Y", "Z", "{CROSS}", "{124}", "{VLINE}", "{126}", "{127}",  // 120-127
    "{128}", "{ORANGE}", "{130}", "{RUN}", "{132}", "{F1}", "{F3}", "{F5}",  // 128-135
    "{F7}", "{F2}", "{F4}", "{F6}", "{F8}", "{SRETURN}", "{UCS}", "{143}",  // 136-143
    "{BLACK}", "{UP}", "{RVOFF}", "{CLEAR}", "{INSERT}", "{BROWN}", "{PINK}", "{DGRAY}",  // 144-151
    "{MGRAY}", "{LGREEN}", "{LBLUE}", "{LGRAY}", "{PURPLE}", "{LEFT}", "{YELLOW}", "{CYAN}",  // 152-159
    "{160}", "{161}", "{162}", "{163}", "{164}", "{165}", "{166}", "{167}",  // 160-167
    "{168}", "{169}", "{170}", "{LTEE}", "{172}", "{LLCORNER}", "{URCORNER}", "{175}",  // 168-175
    "{ULCORNER}", "{BTEE}", "{UTEE}", "{RTEE}", "{180}", "{181}", "{182}", "{183}",  // 176-183
    "{184}", "{185}", "{CHECK}", "{187}", "{188}", "{189}", "{190}", "{191}",  // 184-191
    "{HLINE}", "{193}", "{194}", "{195}", "{196}", "{197}", "{198}", "{199}",  // 192-199
    "{200}", "{201}", "{202}", "{203}", "{204}", "{205}", "{206}", "{207}",  // 200-207
    "{208}", "{209}", "{210}", "{211}", "{212}", "{213}", "{214}", "{215}",  // 208-215
    "{216}", "{217}", "{218}", "{219}", "{220}", "{221}", "{222}", "{223}",  // 216-223
    "{224}", "{225}", "{226}", "{227}", "{228}", "{229}", "{230}", "{231}",  // 224-231
    "{232}", "{233}", "{234}", "{235}", "{236}", "{237}", "{238}", "{239}",  // 232-239
    "{240}", "{241}", "{242}", "{243}", "{244}", "{245}", "{246}", "{247}",  // 240-247
    "{248}", "{249}", "{250}", "{251}", "{252}", "{253}", "{254}", "{255}",  // 248-255
};

// The lookups are defined here, not in a source file of their own, because the
// conversion loops call them for every byte or token and must inline them.
namespace codeTable {

constexpr std::size_t constLength(const char* text)
{
    std::size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

/// A form padded to 16 bytes with its length in the last byte, so that one
/// 16-byte copy writes it and the length byte tells how much of that to keep.
struct alignas(16) FormSlot {
    char text[15];
    std::uint8_t length;
};

using FormSlots = std::array<FormSlot, 256>;

/// The slots of a table of 256 NUL-padded forms, each shorter than a slot's text.
template <std::size_t width>
constexpr FormSlots makeFormSlots(const char (&forms)[256][width])
{
    FormSlots slots{};
    for (std::size_t code = 0; code < 256; ++code) {
        const std::size_t length = constLength(forms[code]);
        for (std::size_t i = 0; i < length; ++i)
            slots[code].text[i] = forms[code][i];
        slots[code].length = static_cast<std::uint8_t>(length);
    }
    return slots;
}

static_assert(longestFormLength < sizeof FormSlot::text, "forms fit a slot");
inline constexpr FormSlots formSlots = makeFormSlots(codeText);

/// Code of each one-character form, indexed by the character; 0 where the
/// character is no form. Code 0's own form is a tag, so 0 is never ambiguous.
constexpr std::array<std::uint8_t, 256> makeSingleCharCodes()
{
    std::array<std::uint8_t, 256> codes{};
    for (std::size_t code = 0; code < 256; ++code)
        if (formSlots[code].length == 1)
            codes[static_cast<unsigned char>(codeText[code][0])] = static_cast<std::uint8_t>(code);
    return codes;
}

inline constexpr std::array<std::uint8_t, 256> singleCharCodes = makeSingleCharCodes();

// Longer forms are found through a hash table keyed by their first 16 bytes,
// zero-padded; every form fits in 16 bytes, so equal keys mean equal forms.
// The multiplier is chosen when the program is built so that no two forms
// share a slot: a lookup is one probe and one comparison, with no branch.
struct TagKey {
    std::uint64_t low;
    std::uint64_t high;
};

constexpr std::uint64_t loadLittleEndian(const char* bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = 0; i < 8; ++i)
        value |= static_cast<std::uint64_t>(static_cast<unsigned char>(bytes[i])) << (8 * i);
    return value;
}

constexpr std::size_t hashBits = 12;

constexpr std::size_t slotOf(const TagKey& key, std::uint64_t multiplier)
{
    // The first eight bytes tell every form apart (a check below makes sure),
    // so the slot need not wait for the rest.
    return static_cast<std::size_t>(key.low * multiplier >> (64 - hashBits));
}

struct TagTable {
    std::uint64_t multiplier = 0;
    std::array<std::uint8_t, std::size_t{1} << hashBits> codeInSlot{};  // code of the form in each slot; 0 when empty
    std::array<TagKey, 256> keyOfCode{};                                  // zero keys for the one-character forms
};

constexpr TagKey keyOfForm(std::size_t code)
{
    char padded[16] = {};
    for (std::size_t i = 0; i < formSlots[code].length; ++i)
        padded[i] = codeText[code][i];
    return {loadLittleEndian(padded), loadLittleEndian(padded + 8)};
}

/// The first odd multiplier of a fixed sequence under which
/// `slotOfCode(code, multiplier)` gives every form of two or more characters
/// a slot of its own among 2^`bits`. Returns 0 when none of them does.
template <std::size_t bits, class SlotOfCode>
constexpr std::uint64_t distinctMultiplier(SlotOfCode slotOfCode)
{
    std::uint64_t candidate = 0x9E3779B97F4A7C15ULL;
    for (int attempt = 0; attempt < 100000; ++attempt) {
        candidate = candidate * 6364136223846793005ULL + 1442695040888963407ULL;
        const std::uint64_t multiplier = candidate | 1;
        std::array<bool, std::size_t{1} << bits> used{};
        bool distinct = true;
        for (std::size_t code = 0; code < 256 && distinct; ++code) {
            if (formSlots[code].length < 2)
                continue;
            const std::size_t slot = slotOfCode(code, multiplier);
            distinct = !used[slot];
            used[slot] = true;
        }
        if (distinct)
            return multiplier;
    }
    return 0;
}

constexpr TagTable makeTagTable()
{
    TagTable table{};
    for (std::size_t code = 0; code < 256; ++code)
        if (formSlots[code].length >= 2)
            table.keyOfCode[code] = keyOfForm(code);
    // A few dozen tries spread the forms over distinct slots.
    table.multiplier = distinctMultiplier<hashBits>(
        [&table](std::size_t code, std::uint64_t multiplier) { return slotOf(table.keyOfCode[code], multiplier); });
    if (table.multiplier != 0)
        for (std::size_t code = 0; code < 256; ++code)
            if (formSlots[code].length >= 2)
                table.codeInSlot[slotOf(table.keyOfCode[code], table.multiplier)] = static_cast<std::uint8_t>(code);
    return table;
}

inline constexpr TagTable tagTable = makeTagTable();

static_assert(tagTable.multiplier != 0, "a multiplier gives every form a slot of its own");

/// Returns the code of the form whose zero-padded 16 bytes are `key`, or 0.
inline std::uint8_t codeOfKey(const TagKey& key)
{
    // An empty slot holds code 0, whose key is that of "{0}": a key that
    // lands there by chance differs from it, and the answer is 0 as well.
    const std::uint8_t code = tagTable.codeInSlot[slotOf(key, tagTable.multiplier)];
    const TagKey& stored = tagTable.keyOfCode[code];
    return stored.low == key.low && stored.high == key.high ? code : 0;
}

static_assert(std::endian::native == std::endian::little, "keys are read as little-endian words");

inline std::uint64_t load64(const char* bytes)
{
    std::uint64_t value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

/// Writes the form in `slots` of each of the `size` codes at `seq` to `text`,
/// which must hold 16 bytes more than the forms: whole slots are stored.
/// Returns the number of text bytes.
inline std::size_t writeForms(const FormSlots& slots, const std::uint8_t* seq, std::size_t size, char* text)
{
    char* next = text;
    // Copy the whole 16-byte slot and keep only the form's own length: one
    // load and one store per code, and no branch on the form.
    const auto writeForm = [&next, &slots](std::uint8_t code) {
        const FormSlot& slot = slots[code];
        std::memcpy(next, slot.text, sizeof slot);
        next += slot.length;
    };
    std::size_t i = 0;
    for (; size - i >= 8; i += 8) {
        // One load for eight codes.
        std::uint64_t codes = load64(reinterpret_cast<const char*>(seq + i));
        for (int k = 0; k < 8; ++k, codes >>= 8)
            writeForm(static_cast<std::uint8_t>(codes));
    }
    for (; i < size; ++i)
        writeForm(seq[i]);
    return static_cast<std::size_t>(next - text);
}

// The bytes of a 16-byte key that a text of each length 0 to 16 keeps.
constexpr std::array<TagKey, 17> makeKeepMasks()
{
    std::array<TagKey, 17> masks{};
    for (std::size_t length = 0; length <= 16; ++length)
        for (std::size_t i = 0; i < length; ++i)
            (i < 8 ? masks[length].low : masks[length].high) |= std::uint64_t{0xFF} << (8 * (i % 8));
    return masks;
}

inline constexpr std::array<TagKey, 17> keepMasks = makeKeepMasks();

/// Returns the code of the form equal to the `length` bytes at `text`, for a
/// length of 2 to 16 and text holding no NUL, reading 16 bytes from `text`:
/// the caller guarantees that they are readable. A text longer than 16 bytes
/// may pass its first 16, which equal no form.
inline std::uint8_t codeOfTag(const char* text, std::size_t length)
{
    const TagKey& keep = keepMasks[length];
    return codeOfKey({load64(text) & keep.low, load64(text + 8) & keep.high});
}

}  // namespace codeTable

/// Returns the text form of `code` as a NUL-terminated string in the table; never fails.
inline const char* codeToText(std::uint8_t code)
{
    return codeText[code];
}

/// Returns the number of characters in the text form of `code` (1 to 11).
inline std::size_t formLength(std::uint8_t code)
{
    return codeTable::formSlots[code].length;
}

/// Returns the code whose form equals the `length` bytes at `text`, or 0 when none does.
/// The bytes may include NUL; a string holding a NUL never equals a form.
inline std::uint8_t textToCode(const char* text, std::size_t length)
{
    if (length == 1)
        return codeTable::singleCharCodes[static_cast<unsigned char>(text[0])];
    if (length == 0 || length > longestFormLength || std::memchr(text, '\0', length) != nullptr)
        return 0;
    char padded[16] = {};
    std::memcpy(padded, text, length);
    return codeTable::codeOfTag(padded, length);
}

/// Returns the code whose form equals the NUL-terminated `text`, or 0 when none does.
inline std::uint8_t textToCode(const char* text)
{
    return textToCode(text, std::strlen(text));
}
