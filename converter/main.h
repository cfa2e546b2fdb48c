#pragma once

#include "conversion.h"
#include "option_parser.h"
#include "screen_picture.h"

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

/// What a direction's converter is made with besides the direction.
struct ConverterSettings {
    Tags tags = Tags::kalmora;  // the text's tags, both ways
    bool lowerCase = false;     // the screen starts in character set 2
    PictureSettings picture{};  // how the picture is drawn; its lowerCase is the one above
};

/// The converter for `direction`: 't' writes text from SEQ codes, 's' SEQ codes
/// from text, 'a' the screen that SEQ codes print, in ANSI colour, 'p' a
/// picture of the screen they leave.
std::unique_ptr<BlockConverter> makeConverter(wchar_t direction, const ConverterSettings& settings = {});
