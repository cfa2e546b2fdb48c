#pragma once

// The conversion loops: SEQ codes to tagged text and tagged text to codes,
// one block at a time, and the one interface through which the driver runs
// every direction.

#include "code_table.h"
#include "text_loop.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

/// The most text characters one SEQ byte turns into.
inline constexpr std::size_t maxTextPerCode = 11;

/// Room that `seqToText` needs for `size` input bytes: it stores whole slots
/// and may write a few bytes past the text it returns.
constexpr std::size_t seqToTextCapacity(std::size_t size)
{
    return size * maxTextPerCode + 16;
}

/// Writes the text form of each of the `size` codes at `seq` to `text`, which
/// must hold seqToTextCapacity(size) bytes. Returns the number of text bytes.
std::size_t seqToText(const std::uint8_t* seq, std::size_t size, char* text);

/// Turns tagged text into SEQ codes one block at a time; a tag or line end
/// split between blocks converts as if the text came in one piece.
class TextToSeq {
public:
    /// Converts with the window loop chosen for this processor, or with
    /// `loop`, which must be one the processor runs.
    explicit TextToSeq(TextLoop loop = chosenTextLoop()) : windows(windowLoop(loop)) {}

    /// Converts `size` bytes of text and writes at most `size` codes to `seq`.
    /// Returns the number of codes written.
    std::size_t convert(const char* text, std::size_t size, std::uint8_t* seq);

private:
    /// Applies the byte-at-a-time rules to `ch`, writing at `next`; returns the new end.
    std::uint8_t* step(char ch, std::uint8_t* next);

    WindowLoop windows;           // the loop that takes 64 bytes at a time
    char buffer[20] = {};         // the tag being gathered, from its "{"
    std::size_t tagLength = 0;    // characters gathered, counting any that did not fit
    bool inTag = false;           // between a "{" and the next "}"
    bool afterReturn = false;     // the previous byte was a carriage return
};

/// What stopped a conversion: the tag that is no tag, as it stands in the
/// input, and the line it starts on (counting line feeds from 1).
struct ConversionFault {
    std::string tag;
    std::uint64_t line = 0;
};

/// What one call of a block converter did.
struct BlockStep {
    std::size_t consumed;  // input bytes taken
    std::size_t produced;  // output bytes written
};

/// One direction's conversion as the driver runs it: input in blocks of any
/// size, output into a buffer of fixed room, state carried between blocks.
class BlockConverter {
public:
    virtual ~BlockConverter() = default;

    /// Room the output buffer should have for input blocks of `blockSize` bytes;
    /// with it, every call of `convert` takes at least one byte.
    virtual std::size_t outputRoom(std::size_t blockSize) const = 0;

    /// Converts from the `size` bytes at `input` as much as fits into the `room`
    /// bytes at `output`. Returns how much it took and wrote; the caller passes
    /// the rest again.
    virtual BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) = 0;

    /// Writes what the converter still holds once the input has ended, into
    /// `room` bytes (at least outputRoom of a block). Returns the bytes written.
    virtual std::size_t finish(char* output, std::size_t room) = 0;

    /// What made the input unreadable, once `convert` or `finish` met it; null
    /// while none has. After a fault the converter takes nothing more.
    virtual const ConversionFault* fault() const { return nullptr; }

    /// Whether `finish` found too little memory for what it had to write,
    /// which is then missing.
    virtual bool outOfMemory() const { return false; }

    /// Whether the pump should read and write on a second thread while this
    /// converter converts: worth it where converting takes about as long as
    /// copying. A quick converter whose output is several times its input
    /// runs faster on one thread, where the output it writes is still in the
    /// cache of the core that hands it to the system.
    virtual bool overlapsCopying() const { return true; }
};

/// Writes each code's form from `slots`, forms of at most `longest` characters.
template <const codeTable::FormSlots& slots, std::size_t longest>
class FormWriterBlocks final : public BlockConverter {
public:
    std::size_t outputRoom(std::size_t blockSize) const override { return blockSize * longest + 16; }

    BlockStep convert(const char* input, std::size_t size, char* output, std::size_t room) override
    {
        const std::size_t codes = std::min(size, (room - 16) / longest);
        return {codes, codeTable::writeForms(slots, reinterpret_cast<const std::uint8_t*>(input), codes, output)};
    }

    std::size_t finish(char*, std::size_t) override { return 0; }

    bool overlapsCopying() const override { return false; }
};

/// A converter that writes the text form of SEQ codes.
std::unique_ptr<BlockConverter> makeSeqToTextBlocks();

/// A converter that writes the SEQ codes of tagged text.
std::unique_ptr<BlockConverter> makeTextToSeqBlocks();
