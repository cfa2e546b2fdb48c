#pragma once

// What the vector window loops share: from a window's masks of braces and
// rare bytes, which bytes give a code, where each tag ends and how far the
// window goes, the code of each tag, and the packing of the codes kept.
// Plain 64-bit arithmetic and SSE2 (which every x86-64 processor has), and
// SSSE3 where a loop that runs only on later processors asks for it; inlined
// into each loop.

#include "code_table.h"
#include "text_loop.h"

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#include <tmmintrin.h>

namespace windowMasks {

/// Where a window's bytes of note are: bit i stands for byte i.
struct Marks {
    std::uint64_t opens;      // "{"
    std::uint64_t closes;     // "}"
    std::uint64_t nuls;       // NUL
    std::uint64_t returns;    // CR
    std::uint64_t lineFeeds;  // LF
};

/// What a window gives.
struct Plan {
    std::uint64_t keep;     // bytes whose code is written, in order
    std::uint64_t tagEnds;  // the "}" of each tag; its byte's code is the tag's
    std::uint64_t inTags;   // from each "{" to the byte before its "}" (and on past the window)
    std::uint64_t dropped;  // LFs that end a CR LF
    std::size_t taken;      // bytes converted; the next window starts there
    bool byRules;           // a tag holds a NUL, which it leaves out: the window goes the portable way
};

/// Works out what the window with `marks` gives.
inline Plan plan(const Marks& marks)
{
    // Adding the opens to the bytes that are no "}" carries from the first
    // "{" after each "}" up to the next "}": the carries mark each tag, with
    // any unfinished tag that a later "{" starts again, from its second byte
    // to its "}". A "}" outside a tag gets no carry.
    const std::uint64_t notCloses = ~marks.closes;
    const std::uint64_t carries = (notCloses + marks.opens) ^ notCloses ^ marks.opens;
    const std::uint64_t inTags = carries >> 1;  // from each "{" to the byte before its "}"
    const std::uint64_t tagEnds = marks.closes & carries;
    // A "{" after the last "}" starts a tag that goes on past the window: the
    // window stops there. A CR at the very end waits for the next window,
    // which tells whether an LF follows.
    const std::uint64_t upToLastClose = marks.closes == 0 ? 0 : ~std::uint64_t{0} >> std::countl_zero(marks.closes);
    const std::uint64_t unclosed = marks.opens & ~upToLastClose;
    std::size_t taken = windowSize;
    if (unclosed != 0)
        taken = static_cast<std::size_t>(std::countr_zero(unclosed));
    else if (marks.returns >> (windowSize - 1) != 0)
        taken = windowSize - 1;
    const std::uint64_t within = taken == windowSize ? ~std::uint64_t{0} : (std::uint64_t{1} << taken) - 1;
    // LFs that end a CR LF give nothing.
    const std::uint64_t dropped = marks.lineFeeds & marks.returns << 1;
    const std::uint64_t keep = ~inTags & ~dropped & within;
    // A tag with a line end in it is no form, as its lookup finds; one with
    // a NUL is the tag without it, which the lookup cannot see.
    const bool byRules = (marks.nuls & inTags & within) != 0;
    return {keep, tagEnds, inTags, dropped, taken, byRules};
}

// A tag is decoded in two steps: a hash of the (at most eight) bytes after
// its "{" gives the one code it can stand for, and one 16-byte comparison
// with that code's form tells whether it does. Every form ends at its only
// "}", so a tag whose first bytes equal a form ends where the form does: the
// comparison needs neither the tag's length nor a zero-padded copy of it, and
// numbered tags need no digit checks.
constexpr std::size_t candidateBits = 12;

// A code's form, zero-padded to 16 bytes, and 0xFF in each byte of the form.
struct alignas(32) FormBytes {
    char form[16];
    char used[16];
};

struct CandidateTable {
    std::uint64_t multiplier = 0;
    std::array<std::uint8_t, std::size_t{1} << candidateBits> codeInSlot{};  // 0 when empty ("{0}" tells it apart)
    std::array<FormBytes, 256> formOfCode{};
};

// The bytes of a word that the `count` bytes after a "{" keep, for a count
// of 0 to 63 (a tag's "}" is at most 63 bytes on).
constexpr std::array<std::uint64_t, windowSize> makeAfterBraceMasks()
{
    std::array<std::uint64_t, windowSize> masks{};
    for (std::size_t count = 0; count < windowSize; ++count)
        masks[count] = count >= 8 ? ~std::uint64_t{0} : (std::uint64_t{1} << (8 * count)) - 1;
    return masks;
}

inline constexpr std::array<std::uint64_t, windowSize> afterBraceMasks = makeAfterBraceMasks();

constexpr std::size_t candidateSlot(std::uint64_t key, std::uint64_t multiplier)
{
    return static_cast<std::size_t>(key * multiplier >> (64 - candidateBits));
}

// The key of the form of `code`: its bytes after the "{", at most eight.
constexpr std::uint64_t formKey(std::size_t code)
{
    const std::size_t length = codeTable::formSlots[code].length;
    std::uint64_t key = 0;
    for (std::size_t i = 1; i < length && i <= 8; ++i)
        key |= std::uint64_t{static_cast<unsigned char>(codeText[code][i])} << (8 * (i - 1));
    return key;
}

constexpr CandidateTable makeCandidateTable()
{
    CandidateTable table{};
    for (std::size_t code = 0; code < 256; ++code)
        for (std::size_t i = 0; i < codeTable::formSlots[code].length; ++i) {
            table.formOfCode[code].form[i] = codeText[code][i];
            table.formOfCode[code].used[i] = '\xFF';
        }
    table.multiplier = codeTable::distinctMultiplier<candidateBits>(
        [](std::size_t code, std::uint64_t multiplier) { return candidateSlot(formKey(code), multiplier); });
    if (table.multiplier != 0)
        for (std::size_t code = 0; code < 256; ++code)
            if (codeTable::formSlots[code].length >= 2)
                table.codeInSlot[candidateSlot(formKey(code), table.multiplier)] = static_cast<std::uint8_t>(code);
    return table;
}

inline constexpr CandidateTable candidates = makeCandidateTable();

static_assert(candidates.multiplier != 0, "a multiplier gives every tag form a slot of its own");

/// Returns the code of the tag at `tag`, whose "}" is `afterBrace` (1 to 63)
/// bytes after its "{", or 0 when it is no form. Reads 16 bytes from `tag`;
/// the tag holds no NUL.
inline std::uint8_t codeOfTagAt(const char* tag, std::size_t afterBrace)
{
    const std::uint64_t key = codeTable::load64(tag + 1) & afterBraceMasks[afterBrace];
    const std::uint8_t code = candidates.codeInSlot[candidateSlot(key, candidates.multiplier)];
    const FormBytes& form = candidates.formOfCode[code];
    const __m128i used = _mm_load_si128(reinterpret_cast<const __m128i*>(form.used));
    const __m128i expected = _mm_load_si128(reinterpret_cast<const __m128i*>(form.form));
    const __m128i text = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(tag)), used);
    const int same = _mm_movemask_epi8(_mm_cmpeq_epi8(text, expected));
    return same == 0xFFFF ? code : 0;
}

/// Writes each tag's code where its "}" went among the kept codes written at
/// `codes`: the tag runs from the last "{" before its "}". `window` is the
/// text, readable 16 bytes past any "{". The codes go in after the kept ones
/// are stored, so that no load waits on these single-byte stores.
inline void writeTagCodes(const char* window, const Marks& marks, const Plan& plan, std::uint8_t* codes)
{
    std::uint64_t tagEnds = plan.tagEnds;
    if (tagEnds == 0)
        return;
    // Each run of inTags starts at a "{"; a tag starts there unless a later
    // "{" in the run starts it again, which text rarely does.
    const std::uint64_t firstOpens = plan.inTags & ~(plan.inTags << 1);
    if (((marks.opens & plan.inTags & ~firstOpens) | plan.dropped) == 0) {
        // The n-th "{" of firstOpens belongs to the n-th "}". The "}" is kept,
        // and its code goes where the "}" of its own would have: past every
        // byte before it but the tags' up to here.
        std::size_t inTags = 0;
        for (std::uint64_t starts = firstOpens; tagEnds != 0; tagEnds &= tagEnds - 1, starts &= starts - 1) {
            const auto end = static_cast<std::size_t>(std::countr_zero(tagEnds));
            const auto start = static_cast<std::size_t>(std::countr_zero(starts));
            inTags += end - start;
            codes[end - inTags] = codeOfTagAt(window + start, end - start);
        }
        return;
    }
    for (; tagEnds != 0; tagEnds &= tagEnds - 1) {
        const std::uint64_t upToEnd = tagEnds ^ (tagEnds - 1);
        const auto end = static_cast<std::size_t>(std::countr_zero(tagEnds));
        // Every "}" that ends a tag has a "{" before it, so the count is of a
        // word that is not zero and needs no check for one.
        const auto start = static_cast<std::size_t>(__builtin_clzll(marks.opens & upToEnd) ^ 63);
        codes[std::popcount(plan.keep & upToEnd) - 1] = codeOfTagAt(window + start, end - start);
    }
}

// For each mask of eight bytes, the shuffle that moves the bytes it keeps to
// the front, in order.
constexpr std::array<std::uint64_t, 256> makePackShuffles()
{
    std::array<std::uint64_t, 256> shuffles{};
    for (unsigned mask = 0; mask < 256; ++mask) {
        unsigned kept = 0;
        for (unsigned byte = 0; byte < 8; ++byte)
            if ((mask >> byte & 1) != 0)
                shuffles[mask] |= std::uint64_t{byte} << (8 * kept++);
    }
    return shuffles;
}

inline constexpr std::array<std::uint64_t, 256> packShuffles = makePackShuffles();

/// Writes the codes of `codes` (a window's 64) that `keep` marks to `next`,
/// in order, eight at a time: each group's kept bytes to the front with one
/// byte shuffle (SSSE3), all eight stored, and the end moved by the number
/// kept. Returns the new end; up to eight bytes past it are written.
__attribute__((target("ssse3,popcnt"))) inline std::uint8_t* packKept(const std::uint8_t* codes, std::uint64_t keep,
                                                                      std::uint8_t* next)
{
    for (std::size_t group = 0; group < windowSize / 8; ++group) {
        const auto groupKeeps = static_cast<unsigned>(keep >> (8 * group) & 0xFF);
        const __m128i groupCodes = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(codes + 8 * group));
        const __m128i shuffle = _mm_cvtsi64_si128(static_cast<long long>(packShuffles[groupKeeps]));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(next), _mm_shuffle_epi8(groupCodes, shuffle));
        next += std::popcount(groupKeeps);
    }
    return next;
}

}  // namespace windowMasks
