#pragma once

// What the vector window loops share: from a window's masks of braces and
// rare bytes, which bytes give a code, where each tag ends and how far the
// window goes. Plain 64-bit arithmetic, inlined into each loop, so that it
// needs no instructions of its own.

#include "code_table.h"
#include "text_loop.h"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>

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
    const std::uint64_t keep = ~inTags & ~(marks.lineFeeds & marks.returns << 1) & within;
    // A tag with a line end in it is no form, as its lookup finds; one with
    // a NUL is the tag without it, which the lookup cannot see.
    const bool byRules = (marks.nuls & inTags & within) != 0;
    return {keep, tagEnds, taken, byRules};
}

/// Writes each tag's code where its "}" went among the kept codes written at
/// `codes`: the tag runs from the last "{" before its "}". `window` is the
/// text, readable 16 bytes past any "}". The codes go in after the kept ones
/// are stored, so that no load waits on these single-byte stores.
inline void writeTagCodes(const char* window, const Marks& marks, const Plan& plan, std::uint8_t* codes)
{
    for (std::uint64_t tagEnds = plan.tagEnds; tagEnds != 0; tagEnds &= tagEnds - 1) {
        const std::uint64_t before = (tagEnds & (0 - tagEnds)) - 1;  // the bytes before this "}"
        const auto end = static_cast<std::size_t>(std::popcount(before));
        // Every "}" that ends a tag has a "{" before it, so the count is of a
        // word that is not zero and needs no check for one.
        const auto start = static_cast<std::size_t>(63 - __builtin_clzll(marks.opens & before));
        // The first 16 bytes of a longer tag match no form.
        codes[std::popcount(plan.keep & before)] =
            codeTable::codeOfTag(window + start, std::min<std::size_t>(end + 1 - start, 16));
    }
}

}  // namespace windowMasks
