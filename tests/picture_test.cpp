#include "screen_picture.h"

#include <gtest/gtest.h>

#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_PNG
#define STBI_NO_STDIO
#include <stb_image.h>

namespace {

// The picture `seq` prints: the PNG file, and its pixels decoded to 0xRRGGBB.
struct Picture {
    std::string png;
    int width = 0, height = 0;
    std::vector<std::uint32_t> pixels;
    std::uint32_t at(int x, int y) const { return pixels[static_cast<std::size_t>(y * width + x)]; }
};

Picture draw(const std::string& seq, const PictureSettings& settings = {})
{
    const std::unique_ptr<BlockConverter> converter = makeScreenPicture(settings);
    std::vector<char> output(converter->outputRoom(1));
    EXPECT_EQ(converter->convert(seq.data(), seq.size(), output.data(), output.size()).consumed, seq.size());
    Picture picture;
    picture.png.assign(output.data(), converter->finish(output.data(), output.size()));
    int channels = 0;
    unsigned char* rgb = stbi_load_from_memory(reinterpret_cast<const unsigned char*>(picture.png.data()),
                                               static_cast<int>(picture.png.size()), &picture.width, &picture.height,
                                               &channels, 3);
    EXPECT_NE(rgb, nullptr) << "not a PNG file";
    for (int i = 0; rgb != nullptr && i < picture.width * picture.height; ++i)
        picture.pixels.push_back(std::uint32_t{rgb[3 * i]} << 16 | rgb[3 * i + 1] << 8 | rgb[3 * i + 2]);
    stbi_image_free(rgb);
    return picture;
}

constexpr std::uint32_t black = 0x000000, white = 0xFFFFFF, blue = 0x2E2C9B, lightBlue = 0x706DEB;
constexpr std::uint64_t upperA = 0x183C66667E666600, lowerA = 0x00003C063E663E00;

// Checks the 8 x 8 pixels of the cell in `row` and `column` against `bits`
// (the top row in the highest byte, bit 7 of each the leftmost pixel).
void expectCell(const Picture& picture, int row, int column, std::uint64_t bits, std::uint32_t ink)
{
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(picture.at(32 + 8 * column + i % 8, 35 + 8 * row + i / 8), (bits >> (63 - i) & 1) ? ink : black) << i;
}

}  // namespace

TEST(Picture, CellsShowTheirGlyphsInTheCharacterSetTheScreenEndsIn)
{
    const Picture plain = draw("\x05" "A\x12" "A\x92\x1c" "A");  // white A, reversed A, red A
    expectCell(plain, 0, 0, upperA, white);
    expectCell(plain, 0, 1, ~upperA, white);
    expectCell(plain, 0, 2, upperA, 0x813338);
    // {LCS} switches every cell, the ones already there too; --charset=lower starts there.
    expectCell(draw("A\x12" "A\x0e"), 0, 1, ~lowerA, lightBlue);
    expectCell(draw("A", {.lowerCase = true}), 0, 0, lowerA, lightBlue);
    expectCell(draw("A\x8e", {.lowerCase = true}), 0, 0, upperA, lightBlue);
    EXPECT_TRUE(draw("\x05" "A\x12" "A\x92\x1c" "A").png == plain.png);  // no time stamp, no text
    for (const std::string chunk : {"tIME", "tEXt", "zTXt", "iTXt"})
        EXPECT_EQ(plain.png.find(chunk), std::string::npos) << chunk;
}

TEST(Picture, BorderAndBackgroundHaveTheirColoursAndSizesAndScaleMakesSquares)
{
    const std::string seq = "\x11\x12\x1e" "AB\x0d\x9f" "CD";  // from row 1
    const Picture one = draw(seq, {.background = 6, .border = 14});
    const Picture three = draw(seq, {.background = 6, .border = 14, .scale = 3});
    ASSERT_EQ(std::vector({one.width, one.height, three.width, three.height}),
              std::vector({384, 272, 3 * 384, 3 * 272}));
    for (const auto& [x, y] : {std::pair{0, 0}, {31, 35}, {352, 35}, {32, 34}, {32, 235}, {383, 271}})
        EXPECT_EQ(one.at(x, y), lightBlue) << x << "," << y;
    for (const auto& [x, y] : {std::pair{32, 35}, {351, 35}, {32, 234}, {351, 234}})
        EXPECT_EQ(one.at(x, y), blue) << x << "," << y;
    for (int i = 0; i < three.width * three.height; ++i)
        ASSERT_EQ(three.at(i % three.width, i / three.width), one.at(i % three.width / 3, i / three.width / 3)) << i;
}

TEST(Picture, FontGivesEveryGlyphReversedOnesToo)
{
    PictureSettings settings;
    for (std::size_t i = 0; i < picture::fontSize; ++i)
        settings.font.push_back(static_cast<std::uint8_t>(i * 37 + i / 256));
    const auto glyph = [&](std::size_t set, std::size_t code, std::uint64_t bits = 0) {
        for (std::size_t row = 0; row < 8; ++row)
            bits = bits << 8 | settings.font[(set * 256 + code) * 8 + row];
        return bits;
    };
    expectCell(draw("A", settings), 0, 0, glyph(0, 1), lightBlue);
    expectCell(draw("\x12" "A", settings), 0, 0, glyph(0, 129), lightBlue);
    expectCell(draw("\x0e\x12" "A", settings), 0, 0, glyph(1, 129), lightBlue);
}
