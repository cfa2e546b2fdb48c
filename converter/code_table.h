#pragma once

#include <cstddef>
#include <cstdint>

/// Length of one table slot: a form of at most 19 characters and its terminator.
inline constexpr std::size_t formSlotSize = 20;

/// Length of the longest form in the table ("{LEFTARROW}").
inline constexpr std::size_t longestFormLength = 11;

/// The text form of every PETSCII code, indexed by the code; each slot is NUL-padded.
extern const char codeText[256][formSlotSize];

/// Returns the text form of `code` as a NUL-terminated string in the table; never fails.
const char* codeToText(std::uint8_t code);

/// Returns the number of characters in the text form of `code` (1 to 11).
std::size_t formLength(std::uint8_t code);

/// Returns the code whose form equals the NUL-terminated `text`, or 0 when none does.
std::uint8_t textToCode(const char* text);

/// Returns the code whose form equals the `length` bytes at `text`, or 0 when none does.
/// The bytes may include NUL; a string holding a NUL never equals a form.
std::uint8_t textToCode(const char* text, std::size_t length);
