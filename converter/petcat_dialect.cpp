#include "petcat_dialect.h"

#include "byte_lanes.h"
#include "code_table.h"
#include "petcat_table.h"
#include "text_loop.h"

#if defined(__x86_64__)
#include "text_loop_masks.h"

#include <immintrin.h>
#endif

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <iterator>
#include <string_view>

namespace {

// Names are found through a hash table keyed by their bytes in lower case,
// zero-padded to 15, with their length in the 16th: no name is longer, and a
// tag's text that is cannot be one. The table holds the dialect's names,
// Kalmora's own, and "$xx" and the decimal numbers 0 to 255, so that any
// plain tag is one lookup.
constexpr std::size_t nameBits = 13;
constexpr std::size_t nameSlotCount = std::size_t{1} << nameBits;

constexpr std::size_t longestName = 15;

struct NameTable {
    std::array<codeTable::TagKey, nameSlotCount> keys{};  // a zero key for an empty slot
    std::array<std::uint8_t, nameSlotCount> codes{};
    std::size_t clashes = 0;  // names met again with another code; the first one stays
};

// The key of a name whose first 8 bytes in lower case are `low`, the next
// ones `high`, zero-padded, and which is `length` bytes long.
constexpr codeTable::TagKey keyOf(std::uint64_t low, std::uint64_t high, std::size_t length)
{
    return {low, high | static_cast<std::uint64_t>(length) << 56};
}

constexpr char lowered(char ch)
{
    return ch >= 'A' && ch <= 'Z' ? static_cast<char>(ch - 'A' + 'a') : ch;
}

constexpr std::size_t slotOf(std::uint64_t low, std::uint64_t high)
{
    return static_cast<std::size_t>(((low ^ std::rotl(high, 29)) * 0xFF51AFD7ED558CCDULL) >> (64 - nameBits));
}

constexpr void addName(NameTable& table, std::string_view name, std::uint8_t code)
{
    char padded[16] = {};
    for (std::size_t i = 0; i < name.size(); ++i)
        padded[i] = lowered(name[i]);
    const codeTable::TagKey key =
        keyOf(codeTable::loadLittleEndian(padded), codeTable::loadLittleEndian(padded + 8), name.size());
    std::size_t slot = slotOf(key.low, key.high);
    for (; table.keys[slot].high != 0; slot = (slot + 1) % nameSlotCount) {
        if (table.keys[slot].low == key.low && table.keys[slot].high == key.high) {
            if (table.codes[slot] != code)
                ++table.clashes;
            return;
        }
    }
    table.keys[slot] = key;
    table.codes[slot] = code;
}

constexpr NameTable makeNameTable()
{
    NameTable table;
    // The dialect's own names first: where one of Kalmora's meant another
    // code, the dialect's would stay.
    for (const petcat::Name& name : petcat::names)
        addName(table, name.text, name.code);
    constexpr char hexDigits[] = "0123456789abcdef";
    for (std::size_t code = 0; code < 256; ++code) {
        const char hex[] = {'$', hexDigits[code / 16], hexDigits[code % 16]};
        addName(table, std::string_view(hex, 3), static_cast<std::uint8_t>(code));
        char decimal[3] = {};
        std::size_t length = 0;
        if (code >= 100)
            decimal[length++] = static_cast<char>('0' + code / 100);
        if (code >= 10)
            decimal[length++] = static_cast<char>('0' + code / 10 % 10);
        decimal[length++] = static_cast<char>('0' + code % 10);
        addName(table, std::string_view(decimal, length), static_cast<std::uint8_t>(code));
    }
    for (std::size_t code = 0; code < 256; ++code) {
        const std::string_view form(codeText[code], codeTable::constLength(codeText[code]));
        if (form.size() > 2 && form.front() == '{')
            addName(table, form.substr(1, form.size() - 2), static_cast<std::uint8_t>(code));
    }
    return table;
}

constexpr NameTable nameTable = makeNameTable();

static_assert(nameTable.clashes == 0, "no name, whatever its case, means two codes");
static_assert(std::all_of(std::begin(petcat::names), std::end(petcat::names),
                          [](const petcat::Name& name) { return codeTable::constLength(name.text) <= longestName; }),
              "every name fits a key");

// Returns 0xFF in each lane of `bytes` from `first` to `last`, 0 elsewhere.
lanes::Bytes within(lanes::Bytes bytes, std::uint8_t first, std::uint8_t last)
{
    return lanes::below(bytes - lanes::splat(first), lanes::splat(static_cast<std::uint8_t>(last - first + 1)));
}

// What 16 bytes outside braces give, as arithmetic: "`" to "}" ("{" aside)
// come down 32 (lower-case letters to 65-90), "A"-"Z" go up 128 to 193-218,
// "~" is 255 and every other byte is itself.
lanes::Bytes codesOf(lanes::Bytes bytes)
{
    return ((bytes - (within(bytes, '`', '}') & lanes::splat(32))) + (within(bytes, 'A', 'Z') & lanes::splat(128))) |
           lanes::equal(bytes, lanes::splat('~'));
}

// The bytes outside braces that need more than their code: "{", CR and LF.
std::uint32_t specialsOf(lanes::Bytes bytes)
{
    return lanes::mask(lanes::equal(bytes, lanes::splat('{')) | lanes::equal(bytes, lanes::splat('\r')) |
                       lanes::equal(bytes, lanes::splat('\n')));
}

// The same, a byte at a time, for the ends of blocks: the code, or above 255
// for "{", CR and LF.
constexpr std::uint16_t special = 0x100;

constexpr std::array<std::uint16_t, 256> makeByteCodes()
{
    std::array<std::uint16_t, 256> codes{};
    for (std::size_t byte = 0; byte < 256; ++byte)
        codes[byte] = static_cast<std::uint16_t>(byte);
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        codes[static_cast<unsigned char>(letter)] = static_cast<std::uint16_t>(letter - 'a' + 65);
        codes[static_cast<unsigned char>(letter - 'a' + 'A')] = static_cast<std::uint16_t>(letter - 'a' + 193);
    }
    codes['`'] = 64;
    codes['|'] = 92;
    codes['}'] = 93;
    codes['~'] = 255;
    codes['{'] = codes['\r'] = codes['\n'] = special;
    return codes;
}

constexpr std::array<std::uint16_t, 256> byteCodes = makeByteCodes();

// Returns the code of the name whose lower-case bytes, zero-padded, are
// `low` and `high` and which is `length` bytes long (1 to 15), or -1.
int codeOfKey(std::uint64_t low, std::uint64_t high, std::size_t length)
{
    const codeTable::TagKey key = keyOf(low, high, length);
    for (std::size_t slot = slotOf(key.low, key.high);; slot = (slot + 1) % nameSlotCount) {
        const codeTable::TagKey& held = nameTable.keys[slot];
        if (held.low == key.low && held.high == key.high)
            return nameTable.codes[slot];
        if (held.high == 0)
            return -1;
    }
}

constexpr std::uint64_t everyByte = 0x0101010101010101ULL;

// Sets the high bit of the first byte of `word` that is `byte` (later bytes
// may be marked too: only the lowest mark counts).
constexpr std::uint64_t firstByteOf(std::uint64_t word, unsigned char byte)
{
    const std::uint64_t difference = word ^ (everyByte * byte);
    return (difference - everyByte) & ~difference & (everyByte * 0x80);
}

// The code of the name whose bytes in lower case are the `inside` ones at
// `lowered` (reading 16), when it is a plain name, "$xx" or number, else -1.
inline int codeOfLowered(const char* lowered, std::size_t inside)
{
    if (inside - 1 >= longestName)
        return -1;
    const codeTable::TagKey& keep = codeTable::keepMasks[inside];
    return codeOfKey(codeTable::load64(lowered) & keep.low, codeTable::load64(lowered + 8) & keep.high, inside);
}

// The code of the tag at `text` with `inside` bytes between its braces when
// it is a plain name, "$xx" or number, else -1. Reads 16 bytes after the "{".
inline int codeOfTagAt(const char* text, std::size_t inside)
{
    const lanes::Bytes bytes = lanes::load(text + 1);
    char lowered[16];
    lanes::store(lowered, bytes + (within(bytes, 'A', 'Z') & lanes::splat(32)));
    return codeOfLowered(lowered, inside);
}

// The code of a tag that closes within the 16 bytes after its "{" at
// `text`, which must be readable, when it is a plain name, "$xx" or number;
// else -1. Stores the tag's length, braces counted, in `length`.
int codeOfShortTag(const char* text, std::size_t& length)
{
    const std::uint64_t low = codeTable::load64(text + 1);
    const std::uint64_t high = codeTable::load64(text + 9);
    // Names differ in length: found without a branch on which word closes.
    const std::uint64_t closes = firstByteOf(low, '}');
    const std::uint64_t moreCloses = firstByteOf(high, '}');
    const int closing = closes != 0       ? std::countr_zero(closes) / 8
                        : moreCloses != 0 ? 8 + std::countr_zero(moreCloses) / 8
                                          : 16;
    length = static_cast<std::size_t>(closing) + 2;
    return codeOfTagAt(text, static_cast<std::size_t>(closing));
}

// Writes the `count` (at most 64) codes at `from` to `next` with whole 16-byte
// stores, and returns the new end.
std::uint8_t* copyCodes(std::uint8_t* next, const std::uint8_t* from, std::size_t count)
{
    std::memcpy(next, from, lanes::width);
    for (std::size_t k = lanes::width; k < count; k += lanes::width)
        std::memcpy(next + k, from + k, lanes::width);
    return next + count;
}

// Reads text a 64-byte window at a time while `windowReach` bytes are left
// before `size` and the room up to `limit` holds a window's codes: the plain
// bytes of a window are classified and translated 16 at a time, and each tag
// in it is looked up at once. Stops at what a window cannot take (a tag that
// does not close in the window, is longer than a name, holds a "{" or a line
// end, or is no plain name), leaving it to the byte rules. Called only where
// no tag or CR is open; stops before a CR whose LF it cannot see. Counts the
// line feeds it reads into `lines`.
std::size_t convertWindows(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes,
                           const std::uint8_t* limit, std::uint64_t& lines)
{
    using lanes::equal;
    using lanes::splat;
    std::uint8_t* next = codes;
    alignas(16) std::uint8_t windowCodes[windowSize + lanes::width];
    while (size - i >= windowReach && limit - next >= static_cast<std::ptrdiff_t>(windowReach)) {
        const char* window = text + i;
        std::uint64_t opens = 0;
        std::uint64_t closes = 0;
        std::uint64_t returns = 0;
        std::uint64_t lineFeeds = 0;
        for (std::size_t k = 0; k < windowSize / lanes::width; ++k) {
            const lanes::Bytes bytes = lanes::load(window + k * lanes::width);
            const lanes::Bytes isLineFeed = equal(bytes, splat('\n'));
            // A line feed is a line end too: 13, not 10.
            lanes::store(windowCodes + k * lanes::width, (codesOf(bytes) & ~isLineFeed) | (isLineFeed & splat(13)));
            opens |= std::uint64_t{lanes::mask(equal(bytes, splat('{')))} << (k * lanes::width);
            closes |= std::uint64_t{lanes::mask(equal(bytes, splat('}')))} << (k * lanes::width);
            returns |= std::uint64_t{lanes::mask(equal(bytes, splat('\r')))} << (k * lanes::width);
            lineFeeds |= std::uint64_t{lanes::mask(isLineFeed)} << (k * lanes::width);
        }
        // A LF that ends a CR LF gives nothing; each "{" starts a tag.
        const std::uint64_t dropped = lineFeeds & returns << 1;
        std::uint64_t events = opens | dropped;
        std::size_t done = 0;
        bool whole = true;
        while (events != 0) {
            const auto at = static_cast<std::size_t>(std::countr_zero(events));
            next = copyCodes(next, windowCodes + done, at - done);
            done = at + 1;
            events &= events - 1;
            if ((dropped >> at & 1) != 0)
                continue;
            // The tag's bytes between its braces, when a "}" follows in the
            // window. No name holds a "{" or a line end: a tag with one is
            // looked up, found to be no name, and left to the byte rules.
            const auto inside = static_cast<std::size_t>(std::countr_zero(closes >> at >> 1));
            const int code = codeOfTagAt(window + at, inside);
            if (code < 0) {
                done = at;
                whole = false;
                break;
            }
            *next++ = static_cast<std::uint8_t>(code);
            const std::size_t end = at + inside + 1;
            done = end + 1;
            events &= ~((std::uint64_t{2} << end) - 1);
        }
        std::size_t taken = done;
        if (whole) {
            // A CR that ends the window waits for the next one, which tells
            // whether a LF follows it.
            taken = returns >> (windowSize - 1) != 0 ? windowSize - 1 : windowSize;
            next = copyCodes(next, windowCodes + done, taken - done);
        }
        // Most windows hold no line end.
        if (lineFeeds != 0)
            lines += static_cast<std::uint64_t>(
                std::popcount(taken == windowSize ? lineFeeds : lineFeeds & ((std::uint64_t{1} << taken) - 1)));
        i += taken;
        if (!whole)
            break;
    }
    codes = next;
    return i;
}

#if defined(__x86_64__)

// Puts the code of each tag `plan` finds in a window in place of its "}"
// among the window's `codes`, looking each up by its bytes at `lowered` (the
// window and the 16 bytes after it, in lower case). Returns false when a tag
// is no plain name.
inline bool placeTagCodes(const char* lowered, const windowMasks::Plan& plan, std::uint8_t* codes)
{
    bool named = true;
    // A tag runs from the first "{" after a "}" to the next "}": a "{"
    // inside it is one of its bytes, which makes it no name.
    std::uint64_t starts = plan.inTags & ~(plan.inTags << 1);
    for (std::uint64_t ends = plan.tagEnds; ends != 0; ends &= ends - 1, starts &= starts - 1) {
        const auto end = static_cast<std::size_t>(std::countr_zero(ends));
        const auto start = static_cast<std::size_t>(std::countr_zero(starts));
        const int code = codeOfLowered(lowered + start + 1, end - start - 1);
        named = named && code >= 0;
        codes[end] = static_cast<std::uint8_t>(code);
    }
    return named;
}

// The line feeds among the first `taken` bytes of a window, of `lineFeeds`.
inline std::uint64_t lineFeedsTaken(std::uint64_t lineFeeds, std::size_t taken)
{
    return static_cast<std::uint64_t>(
        std::popcount(taken == windowSize ? lineFeeds : lineFeeds & ((std::uint64_t{1} << taken) - 1)));
}

#define KALMORA_AVX2 __attribute__((target("avx2,bmi,popcnt")))

KALMORA_AVX2 inline __m256i equal(__m256i bytes, char byte)
{
    return _mm256_cmpeq_epi8(bytes, _mm256_set1_epi8(byte));
}

// 0xFF in each lane of `bytes` from `first` to `last`, 0 elsewhere.
KALMORA_AVX2 inline __m256i within(__m256i bytes, char first, char last)
{
    const __m256i offset = _mm256_sub_epi8(bytes, _mm256_set1_epi8(first));
    const __m256i span = _mm256_set1_epi8(static_cast<char>(last - first + 1));
    // Below the span, as unsigned bytes: the larger of the two is not the offset.
    return _mm256_andnot_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(offset, span), offset), _mm256_set1_epi8(-1));
}

KALMORA_AVX2 inline std::uint64_t bits(__m256i low, __m256i high)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

// The codes of 32 bytes outside braces, as the byte rules have them: "`" to
// "}" come down 32, "A"-"Z" go up 128, "~" is 255 and a line feed 13.
KALMORA_AVX2 inline __m256i plainCodes(__m256i bytes)
{
    __m256i codes = _mm256_sub_epi8(bytes, _mm256_and_si256(within(bytes, '`', '}'), _mm256_set1_epi8(32)));
    codes = _mm256_add_epi8(codes, _mm256_and_si256(within(bytes, 'A', 'Z'), _mm256_set1_epi8(static_cast<char>(128))));
    codes = _mm256_or_si256(codes, equal(bytes, '~'));
    return _mm256_blendv_epi8(codes, _mm256_set1_epi8(13), equal(bytes, '\n'));
}

KALMORA_AVX2 inline __m256i lowerCase(__m256i bytes)
{
    return _mm256_add_epi8(bytes, _mm256_and_si256(within(bytes, 'A', 'Z'), _mm256_set1_epi8(32)));
}

// The same windows in two AVX2 registers each, where the processor has them
// and not AVX-512: every tag is found at once from the brace masks, each
// tag's code goes in place of its "}", and the codes that stay are packed
// eight at a time with byte shuffles. Stops as the AVX-512 windows do.
KALMORA_AVX2 std::size_t convertWindowsAvx2(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes,
                                            const std::uint8_t* limit, std::uint64_t& lines)
{
    std::uint8_t* next = codes;
    alignas(32) char lowered[windowSize + 32];
    alignas(32) std::uint8_t windowCodes[windowSize];
    while (size - i >= windowReach && limit - next >= static_cast<std::ptrdiff_t>(windowReach)) {
        const char* window = text + i;
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32));
        const windowMasks::Marks marks = {bits(equal(low, '{'), equal(high, '{')),
                                          bits(equal(low, '}'), equal(high, '}')), 0,
                                          bits(equal(low, '\r'), equal(high, '\r')),
                                          bits(equal(low, '\n'), equal(high, '\n'))};
        const windowMasks::Plan plan = windowMasks::plan(marks);
        if (plan.taken == 0)
            break;
        _mm256_store_si256(reinterpret_cast<__m256i*>(windowCodes), plainCodes(low));
        _mm256_store_si256(reinterpret_cast<__m256i*>(windowCodes + 32), plainCodes(high));
        // The window in lower case, and the 16 bytes after it that a lookup
        // reads (a tag closes in the window, so they are masked off).
        const __m256i beyond = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + windowSize));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lowered), lowerCase(low));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lowered + 32), lowerCase(high));
        _mm256_store_si256(reinterpret_cast<__m256i*>(lowered + windowSize), lowerCase(beyond));
        if (!placeTagCodes(lowered, plan, windowCodes))
            break;
        next = windowMasks::packKept(windowCodes, plan.keep, next);
        lines += lineFeedsTaken(marks.lineFeeds, plan.taken);
        i += plan.taken;
    }
    codes = next;
    return i;
}

#define KALMORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,popcnt")))

// Lanes of `bytes` that are `byte`.
KALMORA_AVX512 inline std::uint64_t equal(__m512i bytes, char byte)
{
    return _mm512_cmpeq_epi8_mask(bytes, _mm512_set1_epi8(byte));
}

// Lanes of `bytes` from `first` to `last`.
KALMORA_AVX512 inline std::uint64_t within(__m512i bytes, char first, char last)
{
    return _mm512_cmplt_epu8_mask(_mm512_sub_epi8(bytes, _mm512_set1_epi8(first)),
                                  _mm512_set1_epi8(static_cast<char>(last - first + 1)));
}

// The same windows in one AVX-512 register each, where the processor has it:
// every tag is found at once from the brace masks, each tag's code goes in
// place of its "}", and the codes that stay are packed with one compress and
// stored at once.
// Stops at the first window that holds a tag that is no plain name, which the
// 16-byte windows and the byte rules then read.
KALMORA_AVX512 std::size_t convertWindowsAvx512(const char* text, std::size_t i, std::size_t size,
                                                std::uint8_t*& codes, const std::uint8_t* limit,
                                                std::uint64_t& lines)
{
    std::uint8_t* next = codes;
    alignas(64) char lowered[2 * windowSize];
    alignas(64) std::uint8_t windowCodes[windowSize];
    while (size - i >= windowReach && limit - next >= static_cast<std::ptrdiff_t>(windowReach)) {
        const char* window = text + i;
        const __m512i bytes = _mm512_loadu_si512(window);
        const windowMasks::Marks marks = {equal(bytes, '{'), equal(bytes, '}'), 0, equal(bytes, '\r'),
                                          equal(bytes, '\n')};
        const windowMasks::Plan plan = windowMasks::plan(marks);
        if (plan.taken == 0)
            break;
        // "`" to "}" come down 32, "A"-"Z" go up 128, "~" is 255 and a line
        // feed 13, as the byte rules have it.
        __m512i plain = _mm512_mask_sub_epi8(bytes, within(bytes, '`', '}'), bytes, _mm512_set1_epi8(32));
        plain = _mm512_mask_add_epi8(plain, within(bytes, 'A', 'Z'), plain, _mm512_set1_epi8(static_cast<char>(128)));
        plain = _mm512_mask_mov_epi8(plain, equal(bytes, '~'), _mm512_set1_epi8(static_cast<char>(255)));
        plain = _mm512_mask_mov_epi8(plain, marks.lineFeeds, _mm512_set1_epi8(13));
        _mm512_store_si512(windowCodes, plain);
        // The window in lower case, and the 16 bytes after it that a lookup
        // reads (a tag closes in the window, so they are masked off).
        const __m512i beyond = _mm512_maskz_loadu_epi8(0xFFFF, window + windowSize);
        _mm512_store_si512(lowered, _mm512_mask_add_epi8(bytes, within(bytes, 'A', 'Z'), bytes, _mm512_set1_epi8(32)));
        _mm512_store_si512(lowered + windowSize,
                           _mm512_mask_add_epi8(beyond, within(beyond, 'A', 'Z'), beyond, _mm512_set1_epi8(32)));
        if (!placeTagCodes(lowered, plan, windowCodes))
            break;
        _mm512_storeu_si512(next, _mm512_maskz_compress_epi8(plan.keep, _mm512_load_si512(windowCodes)));
        next += std::popcount(plan.keep);
        lines += lineFeedsTaken(marks.lineFeeds, plan.taken);
        i += plan.taken;
    }
    codes = next;
    return i;
}

#endif

// The longest tag text worth looking at: a count, a space and a name, or a
// name, "*" and a count, all with room to spare.
constexpr std::size_t longestTagText = 32;

// A count or a number written in decimal, leading zeros allowed: its value
// when it is from 0 to 255, else -1.
int smallNumber(std::string_view digits)
{
    if (digits.empty())
        return -1;
    int value = 0;
    for (const char digit : digits) {
        if (digit < '0' || digit > '9')
            return -1;
        value = value * 10 + (digit - '0');
        if (value > 255)
            return -1;
    }
    return value;
}

// The code of one thing a tag or a repeat names: a name, "$xx" or a number.
int itemCode(std::string_view item)
{
    const int code = petcatNameCode(item.data(), item.size());
    return code >= 0 ? code : smallNumber(item);
}

struct Repeat {
    int code = -1;  // -1 when the text is no tag
    int count = 0;
};

// Reads a tag's text between its braces: a name, "$xx" or a number, or a
// repeat of one of them in any of the forms "3 down", "3down" and "down*3".
Repeat readTag(std::string_view text)
{
    if (const int code = itemCode(text); code >= 0)
        return {code, 1};
    if (const std::size_t star = text.rfind('*'); star != std::string_view::npos) {
        const int count = smallNumber(text.substr(star + 1));
        const int code = itemCode(text.substr(0, star));
        if (count > 0 && code >= 0)
            return {code, count};
    }
    const std::size_t digits = std::min(text.find_first_not_of("0123456789"), text.size());
    if (digits > 0 && digits < text.size()) {
        const int count = smallNumber(text.substr(0, digits));
        // A number needs the space: "{365}" is a number too large, not 3 of 65.
        const std::string_view rest = text.substr(digits + (text[digits] == ' ' ? 1 : 0));
        const int code = itemCode(rest);
        if (count > 0 && code >= 0)
            return {code, count};
    }
    return {};
}

}  // namespace

int petcatNameCode(const char* name, std::size_t length)
{
    if (length == 0 || length > longestName)
        return -1;
    char padded[16] = {};
    for (std::size_t i = 0; i < length; ++i)
        padded[i] = lowered(name[i]);
    return codeOfKey(codeTable::load64(padded), codeTable::load64(padded + 8), length);
}

BlockStep PetcatReader::convert(const char* text, std::size_t size, std::uint8_t* seq, std::size_t room)
{
    std::uint8_t* next = seq;
    std::size_t i = 0;
    // CR LF is one line end, also when a block ends between the two.
    if (afterReturn && size > 0) {
        afterReturn = false;
        if (text[0] == '\n') {
            ++line;
            i = 1;
        }
    }
    while (i < size && !failed) {
        const auto free = room - static_cast<std::size_t>(next - seq);
        if (free < maxCodesPerTag)
            break;
        if (inTag) {
            const std::size_t start = i;
            while (i < size && text[i] != '}' && text[i] != '\n' && text[i] != '\r')
                ++i;
            gather(text + start, i - start);
            if (i == size)
                break;
            // A tag never spans lines: one that meets a line end never closes.
            if (text[i] != '}') {
                fail();
                break;
            }
            gather(text + i++, 1);
            next = closeTag(next);
            continue;
        }
        // Whole windows while they last; the byte rules take what they cannot.
        if (size - i >= windowReach) {
            const std::size_t start = i;
#if defined(__x86_64__)
            if (windowLoop == TextLoop::avx512)
                i = convertWindowsAvx512(text, i, size, next, seq + room - maxCodesPerTag, line);
            else if (windowLoop == TextLoop::avx2)
                i = convertWindowsAvx2(text, i, size, next, seq + room - maxCodesPerTag, line);
#endif
            i = convertWindows(text, i, size, next, seq + room - maxCodesPerTag, line);
            if (i != start)
                continue;
        }
        // Plain bytes, one code each: 16 at a time, then one at a time.
        if (text[i] != '{') {
            const std::size_t end = i + std::min(size - i, free);
            while (end - i >= lanes::width) {
                const lanes::Bytes bytes = lanes::load(text + i);
                lanes::store(next, codesOf(bytes));
                const auto plain = static_cast<std::size_t>(std::countr_zero(specialsOf(bytes) | 1U << lanes::width));
                next += plain;
                i += plain;
                if (plain < lanes::width)
                    break;
            }
            for (std::uint16_t code; i < end && (code = byteCodes[static_cast<unsigned char>(text[i])]) < special; ++i)
                *next++ = static_cast<std::uint8_t>(code);
            if (i == end)
                continue;
        }
        // Most tags close soon after their "{": looked up at once.
        if (text[i] == '{' && size - i > 16) {
            std::size_t length = 0;
            if (const int code = codeOfShortTag(text + i, length); code >= 0) {
                *next++ = static_cast<std::uint8_t>(code);
                i += length;
                continue;
            }
        }
        const char ch = text[i++];
        if (ch == '{') {
            inTag = true;
            tagLine = line;
            tagLength = 0;
            gather(&ch, 1);
        } else if (ch == '\n') {
            *next++ = 13;
            ++line;
        } else {
            *next++ = 13;
            if (i == size) {
                afterReturn = true;
            } else if (text[i] == '\n') {
                ++line;
                ++i;
            }
        }
    }
    return {i, static_cast<std::size_t>(next - seq)};
}

void PetcatReader::gather(const char* text, std::size_t size)
{
    if (tagLength < sizeof tag)
        std::memcpy(tag + tagLength, text, std::min(size, sizeof tag - tagLength));
    tagLength += size;
}

std::uint8_t* PetcatReader::closeTag(std::uint8_t* next)
{
    inTag = false;
    const Repeat repeat =
        tagLength - 2 <= longestTagText ? readTag(std::string_view(tag + 1, tagLength - 2)) : Repeat{};
    if (repeat.code < 0) {
        fail();
        return next;
    }
    std::memset(next, repeat.code, static_cast<std::size_t>(repeat.count));
    return next + repeat.count;
}

void PetcatReader::fail()
{
    failed = true;
    m_fault = {std::string(tag, std::min(tagLength, sizeof tag)), tagLine};
}

bool PetcatReader::finish()
{
    if (inTag && !failed)
        fail();
    return !failed;
}

namespace {

class PetcatReaderBlocks final : public BlockConverter {
public:
    std::size_t outputRoom(std::size_t blockSize) const override { return blockSize + maxCodesPerTag; }

    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        return reader.convert(input, size, reinterpret_cast<std::uint8_t*>(output), room);
    }

    std::size_t finish(char*, std::size_t) override
    {
        reader.finish();
        return 0;
    }

    const ConversionFault* fault() const override { return reader.fault(); }

private:
    PetcatReader reader;
};

}  // namespace

std::unique_ptr<BlockConverter> makePetcatTextBlocks()
{
    static_assert(std::all_of(petcat::formSlots.begin(), petcat::formSlots.end(),
                              [](const codeTable::FormSlot& slot) { return slot.length <= petcat::longestFormLength; }),
                  "the writer's room holds the longest form");
    return std::make_unique<FormWriterBlocks<petcat::formSlots, petcat::longestFormLength>>();
}

std::unique_ptr<BlockConverter> makePetcatReaderBlocks()
{
    return std::make_unique<PetcatReaderBlocks>();
}
