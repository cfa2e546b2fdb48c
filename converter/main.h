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

/// The brace-tag dialect of the text a run writes or reads.
enum class Tags { kalmora, petcat };

/// The converter for `direction`: 't' writes text from SEQ codes, 's' SEQ codes
/// from text, both with the tags of `tags`, 'a' the screen that SEQ codes
/// print, in ANSI colour.
std::unique_ptr<BlockConverter> makeConverter(wchar_t direction, Tags tags = Tags::kalmora);
