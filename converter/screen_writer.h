#pragma once

// The screen direction's writer: the rows of the screen that SEQ codes print,
// written out as UTF-8 text with 24-bit ANSI colour sequences.

#include "conversion.h"

#include <memory>

/// A converter that prints SEQ codes to the screen and writes each row as it
/// leaves: scrolled off the top, at a clear, and the whole screen at the end.
std::unique_ptr<BlockConverter> makeAnsiScreen();
