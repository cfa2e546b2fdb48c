#include "disk_image.h"
#include "disk_image_builder.h"

#include <gtest/gtest.h>

// Reading `name` off `image` in reads of `step` codes: the codes, "(none)"
// when nothing matches, "(damaged)" when a chain breaks.
static std::string readOff(const TestImage& image, const std::string& name, std::size_t step = 100)
{
    const DiskImage disk(image.bytes);
    ImageReader reader(disk, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    std::string codes;
    std::uint8_t block[300];
    for (std::ptrdiff_t count = 1; count != 0 && reader.status() != ImageReader::Status::notFound;) {
        if ((count = reader.read(block, step)) < 0)
            return "(damaged)";
        codes.append(block, block + count);
    }
    return reader.status() == ImageReader::Status::notFound ? "(none)" : codes;
}

TEST(DiskImage, ReadsEveryKindAndSize)
{
    // Last, the free blocks when the BAM counts 1 on each track and 200 on
    // the directory's; the 1541's BAM covers 35 tracks, and the 1571's track
    // 53 holds its second side's map, never free.
    const std::tuple<int, std::size_t, unsigned, const char*> cases[] = {
        {1541, 174848, 35, "\r34 "}, {1541, 175531, 35, "\r34 "}, {1541, 196608, 40, "\r34 "},
        {1541, 197376, 40, "\r34 "}, {1541, 205312, 42, "\r34 "}, {1541, 206114, 42, "\r34 "},
        {1571, 349696, 70, "\r68 "}, {1571, 351062, 70, "\r68 "}, {1581, 819200, 80, "\r79 "},
        {1581, 822400, 80, "\r79 "}};
    for (const auto& [drive, size, tracks, free] : cases) {
        TestImage image(drive, size);
        const unsigned dir = drive == 1581 ? 40 : 18;
        // Through the last sector of each zone, so that every zone's offset counts.
        std::vector<std::pair<unsigned, unsigned>> chain = {{1, 0}};
        for (unsigned track = 1; track <= tracks; ++track) {
            const unsigned sectors = TestImage::sectorsOn(drive, track);
            if (track == tracks || sectors != TestImage::sectorsOn(drive, track + 1))
                chain.emplace_back(track, sectors - 1);
            std::uint8_t* bam = drive == 1581   ? image.at(dir, 1 + (track > 40)) + 0x10 + 6 * ((track - 1) % 40)
                                : track <= 35   ? image.at(dir, 0) + 4 * track
                                : drive == 1571 ? image.at(dir, 0) + 0xDD + track - 36
                                                : nullptr;
            if (bam != nullptr)
                *bam = track == dir ? 200 : 1;
        }
        std::copy_n("\xa0\xa0ID\xa0" "2A", 7, image.at(dir, 0) + (drive == 1581 ? 0x14 : 0xA0));
        const std::string data(chain.size() * 254 - 7, 'A');
        image.chain(chain, data);
        image.entry(0, 0x81, "FILE", 1, 0);
        EXPECT_EQ(readOff(image, "FILE", 254), data) << size;
        const std::string listing = readOff(image, "$");
        EXPECT_EQ(listing.substr(20, 8), "\" ID 2A\r") << size;
        EXPECT_NE(listing.find(std::string(free) + "BLOCKS FREE.\r"), std::string::npos) << size;
        EXPECT_FALSE(DiskImage(std::vector<std::uint8_t>(size - 1)).recognised() ||
                     DiskImage(std::vector<std::uint8_t>(size + 1)).recognised());
    }
}

TEST(DiskImage, NamesMatchAsTheDriveMatchesThem)
{
    TestImage image(1541, 174848);
    const std::pair<std::uint8_t, const char*> entries[] = {{0x00, "MENU"}, {0x01, "MENU"}, {0x84, "MENU"},
        {0x82, "MENU"}, {0x81, "MENU"}, {0xC1, "\xd2\xc5\xc1\xc4ME"}, {0x83, "NOTES"}, {0x81, "?*"}};
    for (unsigned n = 0; n < 8; ++n) {
        image.entry(n, entries[n].first, entries[n].second, 1, n);
        image.chain({{1, n}}, "file " + std::to_string(n));
    }
    const std::pair<std::string, std::string> cases[] = {
        // Deleted, unclosed and REL entries never match; the first of the rest does.
        {"MENU", "file 3"}, {"menu", "file 3"}, {"\xcd\xc5\xce\xd5", "file 3"}, {"M?NU", "file 3"},
        {"ME*", "file 3"}, {"*", "file 3"}, {"?*", "file 3"}, {"MENU,S", "file 4"}, {"menu,s", "file 4"},
        {"MENU,P", "file 3"}, {"*,U", "file 6"}, {"N*X", "file 6"}, {"readme", "file 5"}, {"MEN", "(none)"},
        {"MENUS", "(none)"}, {"MENU,U", "(none)"}, {"", "(none)"}, {"NOTES,X", "(none)"}, {",S", "(none)"}};
    for (const auto& [name, codes] : cases)
        EXPECT_EQ(readOff(image, name), codes) << name;
}

TEST(DiskImage, ListsTheDirectoryAsTheMachinePrintsIt)
{
    TestImage image(1541, 174848);
    std::uint8_t* header = image.at(18, 0);
    std::copy_n("MY DISK\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0\xa0" "AB\xa0" "2A", 23, header + 0x90);
    for (unsigned track = 1; track <= 35; ++track)
        header[4 * track] = track == 18 ? 17 : 19;
    image.entry(0, 0xC1, "README", 1, 0, 12);
    image.entry(1, 0x00, "GONE", 1, 0, 3);
    image.entry(2, 0x02, "SIXTEEN CHARS!!!", 1, 0, 1234);
    image.entry(3, 0x80, "----------------", 0, 0, 0);
    image.entry(4, 0x86, "SUB", 1, 0, 65535);
    image.entry(5, 0x89, "NINE", 1, 0, 2);  // the type is the low three bits, as the drive takes it
    EXPECT_EQ(readOff(image, "$", 7), "0 \x12\"MY DISK         \" AB 2A\r12   \"README\"           SEQ<\r"
                                      "1234 \"SIXTEEN CHARS!!!\"*PRG\r0    \"----------------\" DEL\r"
                                      "65535 \"SUB\"              DIR\r2    \"NINE\"             SEQ\r646 BLOCKS FREE.\r");
}

TEST(DiskImage, BrokenChainsAreDamageNotEndlessReads)
{
    // A file's sectors; from 18/1, the directory's, after which FIRST is still found.
    const std::vector<std::pair<unsigned, unsigned>> cases[] = {{{0, 0}}, {{17, 21}}, {{1, 0}, {36, 0}},
        {{1, 0}, {2, 0}, {1, 0}}, {{1, 0}, {1, 0}}, {{18, 1}, {18, 1}}, {{18, 1}, {18, 19}}};
    for (const auto& chain : cases) {
        TestImage image(1541, 174848);
        image.chain(chain, std::string(600, 'x'));
        const bool directory = chain[0].first == 18;
        image.entry(0, 0x81, directory ? "FIRST" : "FILE", directory ? 5 : chain[0].first, chain[0].second);
        image.chain({{5, directory ? 1 : 0}}, "first");
        EXPECT_EQ(readOff(image, "FIRST"), directory ? "first" : "(none)");
        EXPECT_EQ(readOff(image, "$", 254) == "(damaged)", directory);
        EXPECT_EQ(readOff(image, "FILE"), "(damaged)") << chain.back().first;
    }
}
