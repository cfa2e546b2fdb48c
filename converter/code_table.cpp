#include "code_table.h"

#include <array>
#include <cstring>

// Printable characters stand for themselves with upper and lower case swapped
// (text "a" is code 65, text "A" is code 97), code 13 is the line end, and
// every other code is a named tag or its number in braces.
constexpr char codeText[256][formSlotSize] = {
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

namespace {

constexpr std::size_t constLength(const char* text)
{
    std::size_t length = 0;
    while (text[length] != '\0')
        ++length;
    return length;
}

constexpr std::array<std::uint8_t, 256> makeFormLengths()
{
    std::array<std::uint8_t, 256> lengths{};
    for (std::size_t code = 0; code < 256; ++code)
        lengths[code] = static_cast<std::uint8_t>(constLength(codeText[code]));
    return lengths;
}

constexpr std::array<std::uint8_t, 256> formLengths = makeFormLengths();

// Code of each one-character form, indexed by the character; 0 where the
// character is no form. Code 0's own form is a tag, so 0 is never ambiguous.
constexpr std::array<std::uint8_t, 256> makeSingleCharCodes()
{
    std::array<std::uint8_t, 256> codes{};
    for (std::size_t code = 0; code < 256; ++code)
        if (formLengths[code] == 1)
            codes[static_cast<unsigned char>(codeText[code][0])] = static_cast<std::uint8_t>(code);
    return codes;
}

constexpr std::array<std::uint8_t, 256> singleCharCodes = makeSingleCharCodes();

// Longer forms live in an open-addressed hash table keyed by their first 16
// bytes, zero-padded; every form fits in 16 bytes, so equal keys mean equal forms.
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

constexpr TagKey makeKey(const char (&padded)[16])
{
    return {loadLittleEndian(padded), loadLittleEndian(padded + 8)};
}

constexpr std::size_t hashBits = 9;

constexpr std::size_t slotOf(const TagKey& key)
{
    const std::uint64_t mixed = key.low * 0x9E3779B97F4A7C15ULL ^ key.high * 0xC2B2AE3D27D4EB4FULL;
    return static_cast<std::size_t>(mixed >> (64 - hashBits));
}

struct TagSlot {
    TagKey key;
    std::uint16_t codePlusOne;  // 0 marks an empty slot
};

using TagTable = std::array<TagSlot, std::size_t{1} << hashBits>;

constexpr TagTable makeTagTable()
{
    TagTable table{};
    for (std::size_t code = 0; code < 256; ++code) {
        if (formLengths[code] < 2)
            continue;
        char padded[16] = {};
        for (std::size_t i = 0; i < formLengths[code]; ++i)
            padded[i] = codeText[code][i];
        const TagKey key = makeKey(padded);
        std::size_t slot = slotOf(key);
        while (table[slot].codePlusOne != 0)
            slot = (slot + 1) % table.size();
        table[slot] = {key, static_cast<std::uint16_t>(code + 1)};
    }
    return table;
}

constexpr TagTable tagTable = makeTagTable();

static_assert(longestFormLength < 16, "tag keys hold whole forms");

}  // namespace

const char* codeToText(std::uint8_t code)
{
    return codeText[code];
}

std::size_t formLength(std::uint8_t code)
{
    return formLengths[code];
}

std::uint8_t textToCode(const char* text)
{
    return textToCode(text, std::strlen(text));
}

std::uint8_t textToCode(const char* text, std::size_t length)
{
    if (length == 1)
        return singleCharCodes[static_cast<unsigned char>(text[0])];
    if (length == 0 || length > longestFormLength)
        return 0;
    char padded[16] = {};
    std::memcpy(padded, text, length);
    if (std::memchr(padded, '\0', length) != nullptr)
        return 0;
    const TagKey key = makeKey(padded);
    for (std::size_t slot = slotOf(key);; slot = (slot + 1) % tagTable.size()) {
        const TagSlot& entry = tagTable[slot];
        if (entry.codePlusOne == 0)
            return 0;
        if (entry.key.low == key.low && entry.key.high == key.high)
            return static_cast<std::uint8_t>(entry.codePlusOne - 1);
    }
}
