// How each direction runs.
//
// SEQ to text: every code's form sits in a 16-byte slot with its length, so
// a code costs one 16-byte copy and one add; eight codes are read with one
// load. There is no slower path.
//
// Text to SEQ has three paths, each taking over from the one before where it
// cannot go on, and all giving what the byte-at-a-time rules give:
// - Windows (text_loop_*.cpp, one loop per processor family, chosen once at
//   start): while at least 96 bytes are left, 64 bytes at a time are
//   classified with vector compares (masks of "{", "}" and of NUL, CR and LF)
//   and translated as one-character forms with vector arithmetic. Each tag is
//   then found from the masks and looked up by its bytes, LFs that end a CR
//   LF are dropped, and the codes between are kept. A tag that does not close
//   within the window starts the next window; one that starts the window and
//   still does not close, or holds a NUL or a line end, goes on below.
// - Words: eight bytes at a time for plain characters, and tags that close
//   within 16 bytes and hold no NUL or second "{"; near the end of a block
//   one byte at a time with the same limits.
// - Byte rules (TextToSeq::step): a tag the faster paths left, a tag or a CR
//   still open at the end of a block, and whatever follows them until no tag
//   or line end is open any more.

#include "conversion.h"

#include "code_table.h"
#include "text_loop.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

std::size_t seqToText(const std::uint8_t* seq, std::size_t size, char* text)
{
    char* next = text;
    // Copy the whole 16-byte slot and keep only the form's own length: one
    // load and one store per code, and no branch on the form.
    const auto writeForm = [&next](std::uint8_t code) {
        const codeTable::FormSlot& slot = codeTable::formSlots[code];
        std::memcpy(next, slot.text, sizeof slot);
        next += slot.length;
    };
    std::size_t i = 0;
    for (; size - i >= 8; i += 8) {
        // One load for eight codes.
        std::uint64_t codes = codeTable::load64(reinterpret_cast<const char*>(seq + i));
        for (int k = 0; k < 8; ++k, codes >>= 8)
            writeForm(static_cast<std::uint8_t>(codes));
    }
    for (; i < size; ++i)
        writeForm(seq[i]);
    return static_cast<std::size_t>(next - text);
}

namespace {

// The longest tag the token buffer holds, both braces counted.
constexpr std::size_t longestTag = 19;

// Bytes that end the quick scan of a tag: its closing brace, and the two bytes
// that make a tag differ from the text between its braces ("{" restarts it,
// a NUL is left out of it).
constexpr std::array<bool, 256> makeTagStops()
{
    std::array<bool, 256> stops{};
    stops['}'] = stops['{'] = stops['\0'] = true;
    return stops;
}

constexpr std::array<bool, 256> tagStops = makeTagStops();

// Bytes outside a tag that are not simply looked up as one-character tokens.
constexpr std::array<bool, 256> makeSpecials()
{
    std::array<bool, 256> specials{};
    specials['{'] = specials['\r'] = specials['\n'] = true;
    return specials;
}

constexpr std::array<bool, 256> specials = makeSpecials();

constexpr std::uint64_t everyByte = 0x0101010101010101ULL;

// Sets the high bit of the first byte of `word` that equals `byte`. Bytes after
// that one may be marked too, so only the lowest mark counts.
constexpr std::uint64_t firstByteEqual(std::uint64_t word, unsigned char byte)
{
    const std::uint64_t difference = word ^ (everyByte * byte);
    return (difference - everyByte) & ~difference & (everyByte * 0x80);
}

// Sets the high bit of the first byte of `word` below `limit` (at most 128),
// with the same caveat as firstByteEqual.
constexpr std::uint64_t firstByteBelow(std::uint64_t word, unsigned char limit)
{
    return (word - everyByte * limit) & ~word & (everyByte * 0x80);
}

// Index of the first "{" or NUL among the 16 bytes at `text`, or 16.
std::size_t firstTagStop(const char* text)
{
    const std::uint64_t low = codeTable::load64(text);
    const std::uint64_t high = codeTable::load64(text + 8);
    const std::uint64_t lowStops = firstByteEqual(low, '{') | firstByteEqual(low, 0);
    const std::uint64_t highStops = firstByteEqual(high, '{') | firstByteEqual(high, 0);
    if (lowStops != 0)
        return static_cast<std::size_t>(std::countr_zero(lowStops) / 8);
    if (highStops != 0)
        return static_cast<std::size_t>(8 + std::countr_zero(highStops) / 8);
    return 16;
}

// Converts text from `i` on while no tag or line end is left open, writing
// codes at `next`. Returns where it stopped: the end of the block, or a byte
// that the byte-at-a-time rules must take (a "{" whose tag does not close
// plainly within the block, or a CR at the very end of the block).
std::size_t convertQuickly(WindowLoop windows, const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes)
{
    i = windows(text, i, size, codes);
    // A local copy, so that the compiler need not reload it after each store.
    std::uint8_t* next = codes;
    // A word at a time while there is room to read a whole tag ahead.
    while (size - i >= 24) {
        if (text[i] == '{') {
            // Find the closing brace within 16 bytes and look the tag up at
            // once. A form holds no NUL and no second "{", so a tag that is a
            // form is exactly the bytes from brace to brace; one that is no
            // form (or "{0}") is checked for those bytes before it counts.
            std::size_t stop = 0;
            if (const std::uint64_t closes = firstByteEqual(codeTable::load64(text + i + 1), '}'); closes != 0) {
                stop = static_cast<std::size_t>(std::countr_zero(closes) / 8);
            } else {
                const std::uint64_t moreCloses = firstByteEqual(codeTable::load64(text + i + 9), '}');
                if (moreCloses == 0)
                    break;
                stop = 8 + static_cast<std::size_t>(std::countr_zero(moreCloses) / 8);
            }
            // Up to 17 bytes long: the first 16 of a longer one match no form.
            const std::size_t length = stop + 2;
            const std::uint8_t code = codeTable::codeOfTag(text + i, std::min<std::size_t>(length, 16));
            if (code == 0 && firstTagStop(text + i + 1) < stop)
                break;
            *next++ = code;
            i += length;
            continue;
        }
        const std::uint64_t word = codeTable::load64(text + i);
        // "{" and the control characters up to CR, line ends among them.
        const std::uint64_t specials = firstByteEqual(word, '{') | firstByteBelow(word, '\r' + 1);
        // Codes for all eight bytes; those from the first special byte on are
        // written over by what follows. At most one code per byte read, so
        // this stays within the room for `size` codes.
        for (std::size_t k = 0; k < 8; ++k)
            next[k] = codeTable::singleCharCodes[static_cast<unsigned char>(text[i + k])];
        // Marks sit on bit 7 of their byte. The top bit set by hand keeps the
        // count free of a branch for a word without marks: 63 + 1 is 8 bytes.
        const auto plain =
            static_cast<std::size_t>((std::countr_zero(specials | std::uint64_t{1} << 63) + (specials == 0)) / 8);
        next += plain;
        i += plain;
        if (plain == 0) {
            const char ch = text[i];
            if (ch == '\r' || ch == '\n') {
                // CR LF is one line end, and so are CR and LF alone.
                *next++ = 13;
                i += ch == '\r' && text[i + 1] == '\n' ? 2 : 1;
            } else {
                // Any other control character is no form.
                *next++ = 0;
                ++i;
            }
        }
    }
    while (i < size) {
        const auto ch = static_cast<unsigned char>(text[i]);
        if (!specials[ch]) {
            *next++ = codeTable::singleCharCodes[ch];
            ++i;
        } else if (ch == '{') {
            const std::size_t limit = std::min(size, i + longestTag);
            std::size_t end = i + 1;
            while (end < limit && !tagStops[static_cast<unsigned char>(text[end])])
                ++end;
            if (end == limit || text[end] != '}')
                break;
            const std::size_t length = end + 1 - i;
            *next++ = textToCode(text + i, length);
            i = end + 1;
        } else if (ch == '\r') {
            // Whether a LF follows is known only in the next block.
            if (i + 1 == size)
                break;
            *next++ = 13;
            i += text[i + 1] == '\n' ? 2 : 1;
        } else {
            *next++ = 13;
            ++i;
        }
    }
    codes = next;
    return i;
}

}  // namespace

std::size_t TextToSeq::convert(const char* text, std::size_t size, std::uint8_t* seq)
{
    std::uint8_t* next = seq;
    std::size_t i = 0;
    while (i < size) {
        // A tag or a line end still open goes one byte at a time.
        if (!inTag && !afterReturn)
            i = convertQuickly(windows, text, i, size, next);
        if (i < size)
            next = step(text[i++], next);
    }
    return static_cast<std::size_t>(next - seq);
}

std::uint8_t* TextToSeq::step(char ch, std::uint8_t* next)
{
    const bool lineFeedAfterReturn = afterReturn;
    afterReturn = false;
    if (ch == '{') {
        // A "{" inside an unfinished tag starts it again.
        inTag = true;
        std::memset(buffer, 0, sizeof buffer);
        buffer[0] = '{';
        tagLength = 1;
    } else if (inTag) {
        if (ch == '}') {
            inTag = false;
            // A tag too long for the buffer is longer than any form.
            if (tagLength + 1 < sizeof buffer) {
                buffer[tagLength++] = '}';
                *next++ = textToCode(buffer, tagLength);
            } else {
                *next++ = 0;
            }
        } else if (ch != '\0') {
            // Line ends are gathered too; a NUL adds nothing.
            if (tagLength + 1 < sizeof buffer)
                buffer[tagLength] = ch;
            ++tagLength;
        }
    } else if (ch == '\r') {
        afterReturn = true;
        *next++ = 13;
    } else if (ch == '\n') {
        // CR LF is one line end; a line feed on its own is one too.
        if (!lineFeedAfterReturn)
            *next++ = 13;
    } else {
        *next++ = textToCode(&ch, 1);
    }
    return next;
}

namespace {

class SeqToTextBlocks final : public BlockConverter {
public:
    std::size_t outputRoom(std::size_t blockSize) const override { return seqToTextCapacity(blockSize); }

    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        const std::size_t codes = std::min(size, (room - seqToTextCapacity(0)) / maxTextPerCode);
        return {codes, seqToText(reinterpret_cast<const std::uint8_t*>(input), codes, output)};
    }

    std::size_t finish(char*, std::size_t) override { return 0; }
};

class TextToSeqBlocks final : public BlockConverter {
public:
    std::size_t outputRoom(std::size_t blockSize) const override { return blockSize; }

    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        const std::size_t taken = std::min(size, room);
        return {taken, converter.convert(input, taken, reinterpret_cast<std::uint8_t*>(output))};
    }

    // A tag still open at the end is dropped.
    std::size_t finish(char*, std::size_t) override { return 0; }

private:
    TextToSeq converter;
};

}  // namespace

std::unique_ptr<BlockConverter> makeSeqToTextBlocks()
{
    return std::make_unique<SeqToTextBlocks>();
}

std::unique_ptr<BlockConverter> makeTextToSeqBlocks()
{
    return std::make_unique<TextToSeqBlocks>();
}
