#pragma once

#include "option_parser.h"

/// The command line options, ending with a row of id -1.
extern const OptionDef optionTable[];

/// Runs one conversion as the command line `argv` asks (element 0 is the
/// program; the strings may be edited in place). Returns the exit status, 0 or 1.
int kalmoraMain(int argc, wchar_t* argv[]);

/// Prints the message for memory that ran out. Returns the exit status for it, 1.
int reportOutOfMemory();
