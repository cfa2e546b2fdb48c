#pragma once

// Lossless conversion between byte strings and wide strings. Valid UTF-8
// decodes to its characters; every byte of an invalid sequence decodes to
// U+DC80..U+DCFF (a lone surrogate that valid UTF-8 never yields) and encodes
// back to that byte, so any file name survives the trip unchanged.

#include <string>
#include <string_view>

/// Decodes `bytes`; never fails.
std::wstring wideFromBytes(std::string_view bytes);

/// Encodes `text` as UTF-8, turning escaped bytes back into themselves;
/// characters no decoding could give (other lone surrogates) become U+FFFD.
std::string bytesFromWide(std::wstring_view text);
