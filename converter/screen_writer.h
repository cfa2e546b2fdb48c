#pragma once

// The screen direction's writer: the rows of the screen that SEQ codes print,
// written out as UTF-8 text with 24-bit ANSI colour sequences.

#include "conversion.h"
#include "screen_editor.h"

#include <cstdint>
#include <memory>
#include <string>

/// A converter that prints SEQ codes to the screen and writes each row as it
/// leaves: scrolled off the top, at a clear, and the whole screen at the end.
/// With `lowerCase` the screen starts in character set 2.
std::unique_ptr<BlockConverter> makeAnsiScreen(bool lowerCase = false);

/// Appends `count` cells as the rows are written: both colours before the
/// first cell, then each colour sequence where it changes, and the glyphs.
void appendAnsiCells(const std::uint8_t* codes, const std::uint8_t* colours, std::size_t count, bool lowerCase,
                     std::string& out);

/// Appends `screen` as it is written when the input ends.
void appendAnsiScreen(const ScreenRows& screen, bool lowerCase, std::string& out);

/// The code that switches to character set 2 (lower and upper case) at the
/// start, where nothing can have switched quote mode on.
inline constexpr std::uint8_t lowerCaseCode = 14;
