// The window loop for any processor: 16 bytes at a time through the shared
// vector extensions (or plain arrays), tags found one by one from the masks.

#include "text_loop.h"

#include "byte_lanes.h"
#include "code_table.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

// The code of each byte of `lanes` taken as a one-character form, with CR and
// LF both giving 13: printable ASCII stands for itself with the cases of the
// letters swapped, and every other byte is no form.
lanes::Bytes plainCodes(lanes::Bytes text)
{
    using lanes::below;
    using lanes::equal;
    using lanes::splat;
    // Space to "@" but the double quote, and the two square brackets.
    const lanes::Bytes same = (below(text - splat(' '), splat('@' - ' ' + 1)) & ~equal(text, splat('"'))) |
                              equal(text, splat('[')) | equal(text, splat(']'));
    const lanes::Bytes upper = below(text - splat('A'), splat(26));
    const lanes::Bytes lower = below(text - splat('a'), splat(26));
    const lanes::Bytes lineEnd = equal(text, splat('\r')) | equal(text, splat('\n'));
    return (text & same) | ((text + splat(32)) & upper) | ((text - splat(32)) & lower) | (splat(13) & lineEnd);
}

// One window of text: where its braces and rarer bytes are, and the code of
// every byte as a one-character form.
struct Window {
    std::uint64_t opens = 0;   // bit i: byte i is "{"
    std::uint64_t closes = 0;  // "}"
    std::uint64_t rare = 0;    // NUL, CR or LF
    std::uint8_t codes[windowSize + 32];
};

// Classifies the 64 bytes at `text` into `window`.
void classify(const char* text, Window& window)
{
    using lanes::equal;
    using lanes::splat;
    lanes::Bytes rare[windowSize / lanes::width];
    bool anyRare = false;
    window.opens = window.closes = 0;
    for (std::size_t k = 0; k < windowSize / lanes::width; ++k) {
        const lanes::Bytes bytes = lanes::load(text + k * lanes::width);
        lanes::store(window.codes + k * lanes::width, plainCodes(bytes));
        window.opens |= std::uint64_t{lanes::mask(equal(bytes, splat('{')))} << (k * lanes::width);
        window.closes |= std::uint64_t{lanes::mask(equal(bytes, splat('}')))} << (k * lanes::width);
        // All three are below 14; one compare with 14 would take the other
        // control characters too.
        rare[k] = equal(bytes, splat(0)) | equal(bytes, splat('\r')) | equal(bytes, splat('\n'));
        anyRare = anyRare || lanes::any(rare[k]);
    }
    window.rare = 0;
    // Most text has no NUL and line ends only every few dozen bytes.
    if (anyRare)
        for (std::size_t k = 0; k < windowSize / lanes::width; ++k)
            window.rare |= std::uint64_t{lanes::mask(rare[k])} << (k * lanes::width);
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

}  // namespace

std::size_t convertWindowsPortable(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes)
{
    std::uint8_t* next = codes;
    Window window;
    while (size - i >= windowReach) {
        classify(text + i, window);
        // Line feeds that end a CR LF give nothing.
        std::uint64_t lineFeedsAfterReturn = 0;
        if (window.rare != 0) {
            std::uint64_t returns = 0;
            std::uint64_t lineFeeds = 0;
            for (std::uint64_t rest = window.rare; rest != 0; rest &= rest - 1) {
                const int at = std::countr_zero(rest);
                returns |= std::uint64_t{text[i + static_cast<std::size_t>(at)] == '\r'} << at;
                lineFeeds |= std::uint64_t{text[i + static_cast<std::size_t>(at)] == '\n'} << at;
            }
            lineFeedsAfterReturn = lineFeeds & returns << 1;
        }
        // Every "{" and every dropped LF, in order; the bytes between them
        // convert one to one.
        std::uint64_t events = window.opens | lineFeedsAfterReturn;
        std::size_t done = 0;
        bool whole = true;
        while (events != 0) {
            const auto at = static_cast<std::size_t>(std::countr_zero(events));
            next = copyCodes(next, window.codes + done, at - done);
            done = at;
            if ((lineFeedsAfterReturn >> at & 1) != 0) {
                done = at + 1;
                events &= events - 1;
                continue;
            }
            const std::uint64_t closesAfter = window.closes & (~std::uint64_t{1} << at);
            if (closesAfter == 0) {
                whole = false;
                break;
            }
            const auto end = static_cast<std::size_t>(std::countr_zero(closesAfter));
            const std::uint64_t inside = ((std::uint64_t{1} << end) - 1) & (~std::uint64_t{1} << at);
            if (((window.opens | window.rare) & inside) != 0) {
                if ((window.opens & inside) == 0) {
                    whole = false;
                    break;
                }
                // A "{" inside an unfinished tag starts it again: what came
                // before it gives nothing.
                done = static_cast<std::size_t>(std::countr_zero(window.opens & inside));
                events &= ~std::uint64_t{0} << done;
                continue;
            }
            // Up to 19 bytes, all readable: the first 16 of a longer tag match no form.
            *next++ = codeTable::codeOfTag(text + i + at, std::min<std::size_t>(end + 1 - at, 16));
            done = end + 1;
            events &= ~std::uint64_t{1} << end;
        }
        if (!whole) {
            // Start the next window at this tag, or leave it to the byte rules
            // if it already starts the window.
            i += done;
            if (done == 0)
                break;
            continue;
        }
        // A CR that ends the window waits for the next one, which tells
        // whether a LF follows it.
        const std::size_t taken = text[i + windowSize - 1] == '\r' ? windowSize - 1 : windowSize;
        next = copyCodes(next, window.codes + done, taken - done);
        i += taken;
    }
    codes = next;
    return i;
}

