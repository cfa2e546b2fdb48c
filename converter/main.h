#pragma once

#include "conversion.h"
#include "option_parser.h"

#include <memory>

/// The command line options, ending with a row of id -1.
extern const OptionDef optionTable[];

/// Runs one conversion as the command line `argv` asks (element 0 is the
/// program; the strings may be edited in place). Returns the exit status, 0 or 1.
int kalmoraMain(int argc, wchar_t* argv[]);

/// Prints the message for memory that ran out. Returns the exit status for it, 1.
int reportOutOfMemory();

/// The converter for `direction`: 't' writes text from SEQ codes, 's' SEQ codes
/// from text, 'a' the screen that SEQ codes print, in ANSI colour (starting
/// in character set 2 with `lowerCase`).
std::unique_ptr<BlockConverter> makeConverter(wchar_t direction, bool lowerCase = false);
