#pragma once

// The screen direction: SEQ codes printed to a C64 screen of 40 by 25 cells
// as its screen editor prints them, and the picture written out as UTF-8 text
// with 24-bit ANSI colour sequences.

#include "conversion.h"

#include <memory>

/// A converter that prints SEQ codes to the screen and writes each row as it
/// leaves: scrolled off the top, at a clear, and the whole screen at the end.
std::unique_ptr<BlockConverter> makeAnsiScreen();
