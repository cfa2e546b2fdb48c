#include "screen_picture.h"

#include "c64_glyphs.h"
#include "c64_palette.h"
#include "screen_editor.h"

#include <array>
#include <cstdlib>
#include <cstring>

// The PNG writer: its own deflate, no file functions, nothing exported.
#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STB_IMAGE_WRITE_STATIC
#define STBI_WRITE_NO_STDIO
#include <stb_image_write.h>

namespace {

using picture::borderLeft;
using picture::borderTop;
using screen::columns;
using screen::rows;

constexpr std::size_t glyphSize = 8;
constexpr std::size_t channels = 3;  // 8-bit RGB

// Each glyph's 8 rows by character set ([0] set 1, [1] set 2) and screen
// code, reversed ones included.
using GlyphTable = std::array<std::array<std::array<std::uint8_t, glyphSize>, 256>, 2>;

GlyphTable makeGlyphs(const std::vector<std::uint8_t>& font)
{
    GlyphTable table{};
    for (std::size_t set = 0; set < 2; ++set) {
        for (std::size_t code = 0; code < 256; ++code) {
            for (std::size_t row = 0; row < glyphSize; ++row) {
                if (!font.empty()) {
                    table[set][code][row] = font[(set * 256 + code) * glyphSize + row];
                } else {
                    const std::uint64_t bits = (set == 0 ? glyphs::upperCase : glyphs::lowerCase)[code & 127];
                    const auto line = static_cast<std::uint8_t>(bits >> (8 * (glyphSize - 1 - row)));
                    table[set][code][row] = code < 128 ? line : static_cast<std::uint8_t>(~line);
                }
            }
        }
    }
    return table;
}

// The most bytes the writer makes of a picture: a deflate stream that is no
// longer than its data stored plainly (5 bytes a block of up to 32,767,
// which the writer falls back to when compressing gains nothing), 2 bytes of
// header and 4 of check sum, and the file's signature and three chunks.
constexpr std::size_t pngBound(std::size_t pixelWidth, std::size_t pixelHeight)
{
    const std::size_t filtered = pixelHeight * (pixelWidth * channels + 1);
    const std::size_t deflate = 2 + filtered + 5 * ((filtered + 32766) / 32767) + 4;
    return 8 + (12 + 13) + (12 + deflate) + 12;
}

class ScreenPicture final : public BlockConverter, private ScreenOutput {
public:
    explicit ScreenPicture(const PictureSettings& settings)
        : glyphTable(makeGlyphs(settings.font)),
          scale(settings.scale),
          background(palette[settings.background & 15]),
          border(palette[settings.border & 15]),
          lineBytes(picture::width * scale * channels),
          pixels(lineBytes * picture::height * scale)
    {
        // The screen starts in character set 2 as if the file began with {LCS}.
        if (settings.lowerCase) {
            const std::uint8_t lowerCaseCode = 14;
            editor.print(&lowerCaseCode, 1, *this);
        }
    }

    std::size_t outputRoom(std::size_t) const override
    {
        return pngBound(picture::width * scale, picture::height * scale);
    }

    BlockStep convert(const char* input, std::size_t size, char*, std::size_t) override
    {
        return {editor.print(reinterpret_cast<const std::uint8_t*>(input), size, *this), 0};
    }

    std::size_t finish(char* output, std::size_t room) override
    {
        editor.end(*this);
        int length = 0;
        // The writer's deflate costs some 150 instructions a byte at its
        // default level, trying every filter on each line; its lowest level
        // with one filter ("sub", each byte less the pixel to its left)
        // takes half that for files some 10 % larger.
        stbi_write_png_compression_level = 5;
        stbi_write_force_png_filter = 1;
        unsigned char* png = stbi_write_png_to_mem(pixels.data(), 0, static_cast<int>(picture::width * scale),
                                                   static_cast<int>(picture::height * scale), channels, &length);
        failed = png == nullptr || static_cast<std::size_t>(length) > room;
        const std::size_t written = failed ? 0 : static_cast<std::size_t>(length);
        if (written > 0)
            std::memcpy(output, png, written);
        std::free(png);
        return written;
    }

    bool outOfMemory() const override { return failed; }

private:
    bool rowLeaves(const std::uint8_t*, const std::uint8_t*, bool) override { return true; }
    bool screenCleared(const ScreenRows&, bool) override { return true; }
    void inputEnded(const ScreenRows& screen, bool lowerCase) override { draw(screen, lowerCase); }

    // Paints `count` pixels from `at` in `colour`, each `scale` wide.
    std::uint8_t* paint(std::uint8_t* at, std::size_t count, Rgb colour) const
    {
        for (std::size_t i = 0; i < count * scale; ++i) {
            *at++ = colour.red;
            *at++ = colour.green;
            *at++ = colour.blue;
        }
        return at;
    }

    void draw(const ScreenRows& screen, bool lowerCase)
    {
        const auto& glyphSet = glyphTable[lowerCase ? 1 : 0];
        for (std::size_t y = 0; y < picture::height; ++y) {
            std::uint8_t* const line = pixels.data() + y * scale * lineBytes;
            const std::size_t screenLine = y - borderTop;  // wraps above the screen
            if (screenLine >= rows * glyphSize) {
                paint(line, picture::width, border);
            } else {
                const std::size_t row = screenLine / glyphSize;
                std::uint8_t* at = paint(line, borderLeft, border);
                for (std::size_t column = 0; column < columns; ++column) {
                    const Rgb ink = palette[screen.colours[row][column] & 15];
                    const std::uint8_t bits = glyphSet[screen.codes[row][column]][screenLine % glyphSize];
                    for (unsigned bit = 0x80; bit != 0; bit >>= 1)
                        at = paint(at, 1, (bits & bit) != 0 ? ink : background);
                }
                paint(at, picture::width - borderLeft - columns * glyphSize, border);
            }
            // The other lines of a scaled pixel are the same.
            for (std::size_t copy = 1; copy < scale; ++copy)
                std::memcpy(line + copy * lineBytes, line, lineBytes);
        }
    }

    ScreenEditor editor;
    const GlyphTable glyphTable;
    const std::size_t scale;
    const Rgb background;
    const Rgb border;
    const std::size_t lineBytes;      // one line of the scaled picture
    std::vector<std::uint8_t> pixels;  // the whole scaled picture, top line first
    bool failed = false;
};

}  // namespace

std::unique_ptr<BlockConverter> makeScreenPicture(const PictureSettings& settings)
{
    return std::make_unique<ScreenPicture>(settings);
}
