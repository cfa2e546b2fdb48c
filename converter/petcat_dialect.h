#pragma once

// The other brace-tag dialect: SEQ codes written as its tool writes them, and
// its text, with every name and tag form it knows, read back into codes.

#include "conversion.h"
#include "text_loop.h"

#include <cstddef>
#include <cstdint>
#include <memory>

/// The most codes one tag gives: a repeat of 255.
inline constexpr std::size_t maxCodesPerTag = 255;

/// Reads the dialect's text into SEQ codes one block at a time; a tag or a
/// CR LF split between blocks reads as if the text came in one piece.
class PetcatReader {
public:
    /// Reads with whole windows in the registers `loop` uses (AVX-512, AVX2 or
    /// 16-byte ones), the choice made for the default dialect unless given.
    explicit PetcatReader(TextLoop loop = chosenTextLoop()) : windowLoop(loop) {}

    /// Converts from the `size` bytes at `text` as much as leaves room for one
    /// more tag in the `room` codes at `seq` (`room` above maxCodesPerTag, so
    /// that at least one byte is taken). Stops at a tag that is none of the
    /// dialect's, with `fault` set. Returns the bytes taken and codes written.
    BlockStep convert(const char* text, std::size_t size, std::uint8_t* seq, std::size_t room);

    /// Ends the text: a tag still open there is a fault. Returns false then.
    bool finish();

    /// The tag that stopped reading, or null while none has.
    const ConversionFault* fault() const { return failed ? &m_fault : nullptr; }

private:
    /// Writes the codes of the tag gathered in `tag`, or fails on it. Returns the new end.
    std::uint8_t* closeTag(std::uint8_t* next);

    /// Keeps the `size` bytes at `text` as more of the open tag.
    void gather(const char* text, std::size_t size);

    /// Stops reading at the open tag.
    void fail();

    char tag[64] = {};               // the open tag from its "{", as much as is shown of it
    std::size_t tagLength = 0;       // its bytes so far, counting any that did not fit
    std::uint64_t line = 1;          // the line being read
    std::uint64_t tagLine = 1;       // the line the open tag starts on
    bool inTag = false;              // between a "{" and its "}"
    bool afterReturn = false;        // the last block ended with a CR
    bool failed = false;
    TextLoop windowLoop;
    ConversionFault m_fault;
};

/// The code of `name` (a tag's text between its braces) read without regard
/// to case: one of the dialect's names or Kalmora's, `$xx` or a number from 0
/// to 255. Returns -1 when it is none of them.
int petcatNameCode(const char* name, std::size_t length);

/// A converter that writes the dialect's form of SEQ codes.
std::unique_ptr<BlockConverter> makePetcatTextBlocks();

/// A converter that reads the dialect's text into SEQ codes.
std::unique_ptr<BlockConverter> makePetcatReaderBlocks();
