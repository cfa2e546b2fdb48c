#pragma once

// The picture direction's writer: the screen as the input leaves it, drawn
// pixel for pixel inside its border, as a PNG picture.

#include "conversion.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace picture {

// The screen's 320 x 200 pixels with the border an emulator's screenshot
// shows: 32 pixels left and right, 35 above and 37 below.
inline constexpr std::size_t borderLeft = 32;
inline constexpr std::size_t borderTop = 35;
inline constexpr std::size_t width = borderLeft + 320 + 32;
inline constexpr std::size_t height = borderTop + 200 + 37;
inline constexpr unsigned maxScale = 8;
/// A character ROM image: set 1's 256 glyphs, then set 2's, 8 bytes each.
inline constexpr std::size_t fontSize = 2 * 256 * 8;

}  // namespace picture

/// How the picture is drawn.
struct PictureSettings {
    bool lowerCase = false;          // the screen starts in character set 2
    std::uint8_t background = 0;     // colour numbers 0-15
    std::uint8_t border = 0;
    unsigned scale = 1;              // 1 to picture::maxScale: each pixel becomes scale x scale
    std::vector<std::uint8_t> font{};  // a character ROM image, or empty for the built-in glyphs
};

/// A converter that prints SEQ codes to the screen and, once the input has
/// ended, writes the screen as a PNG picture of picture::width x
/// picture::height pixels times the scale. Its memory for the picture is
/// taken here, before any file is opened.
std::unique_ptr<BlockConverter> makeScreenPicture(const PictureSettings& settings);
