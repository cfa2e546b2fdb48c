#pragma once

#include "option_parser.h"

#include <cstddef>
#include <cstdint>

/// The command line options, ending with a row of id -1.
extern const OptionDef optionTable[];

/// Runs one conversion as the command line `argv` asks (element 0 is the
/// program; the strings may be edited in place). Returns the exit status, 0 or 1.
int kalmoraMain(int argc, wchar_t* argv[]);

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
    /// Converts `size` bytes of text and writes at most `size` codes to `seq`.
    /// Returns the number of codes written.
    std::size_t convert(const char* text, std::size_t size, std::uint8_t* seq);

private:
    /// Applies the byte-at-a-time rules to `ch`, writing at `next`; returns the new end.
    std::uint8_t* step(char ch, std::uint8_t* next);

    char buffer[20] = {};         // the tag being gathered, from its "{"
    std::size_t tagLength = 0;    // characters gathered, counting any that did not fit
    bool inTag = false;           // between a "{" and the next "}"
    bool afterReturn = false;     // the previous byte was a carriage return
};
