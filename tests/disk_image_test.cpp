#include "disk_image.h"
#include "disk_image_builder.h"

#include <gtest/gtest.h>

// Reading `name` off `image` in reads of `step` codes: the codes, "(none)"
// when nothing matches, "(damaged)" when a chain breaks.
static std::string readOff(const TestImage& image, const std::string& name, std::size_t step = 100)
{
    const DiskImage disk(image.bytes);
    if (!disk.recognised())
        return "(no image)";
    ImageReader reader(disk, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    if (reader.status() != ImageReader::Status::reading)
        return reader.status() == ImageReader::Status::notFound ? "(none)" : "(damaged)";
    std::string codes;
    std::uint8_t block[300];
    for (std::ptrdiff_t count; (count = reader.read(block, step)) != 0; codes.append(block, block + count)) {
        if (count < 0)
            return "(damaged)";
    }
    return codes;
}

TEST(DiskImage, ReadsEveryKindAndSize)
{
    // "free": the listing's figure when the BAM counts 1 on each track and 200
    // on the directory's; the 1541's BAM covers only 35 tracks.
    const struct {
        int drive;
        std::size_t size;
        unsigned tracks;
        const char* free;
    } cases[] = {{1541, 174848, 35, "\r34 "}, {1541, 175531, 35, "\r34 "}, {1541, 196608, 40, "\r34 "},
                 {1541, 197376, 40, "\r34 "}, {1541, 205312, 42, "\r34 "}, {1541, 206114, 42, "\r34 "},
                 {1571, 349696, 70, "\r69 "}, {1571, 351062, 70, "\r69 "}, {1581, 819200, 80, "\r79 "},
                 {1581, 822400, 80, "\r79 "}};
    for (const auto& sample : cases) {
        TestImage image(sample.drive, sample.size);
        // Through the last sector of each zone, so that every zone's offset counts.
        std::vector<std::pair<unsigned, unsigned>> chain = {{1, 0}};
        for (unsigned track = 1; track <= sample.tracks; ++track) {
            const unsigned sectors = TestImage::sectorsOn(sample.drive, track);
            if (track == sample.tracks || sectors != TestImage::sectorsOn(sample.drive, track + 1))
                chain.emplace_back(track, sectors - 1);
        }
        const std::string data(chain.size() * 254 - 7, 'A');
        image.chain(chain, data);
        image.entry(0, 0x81, "FILE", 1, 0);
        const unsigned dir = sample.drive == 1581 ? 40 : 18;
        for (unsigned track = 1; track <= sample.tracks; ++track) {
            std::uint8_t* bam = sample.drive == 1581 ? image.at(dir, 1 + (track > 40)) + 0x10 + 6 * ((track - 1) % 40)
                                : track <= 35        ? image.at(dir, 0) + 4 * track
                                : sample.drive == 1571 ? image.at(dir, 0) + 0xDD + track - 36
                                                     : nullptr;
            if (bam != nullptr)
                *bam = static_cast<std::uint8_t>(track == dir ? 200 : 1);
        }
        EXPECT_EQ(readOff(image, "FILE", 254), data) << sample.size;
        EXPECT_NE(readOff(image, "$").find(std::string(sample.free) + "BLOCKS FREE.\r"), std::string::npos);
        for (const std::size_t wrong : {sample.size - 1, sample.size + 1})
            EXPECT_EQ(readOff(TestImage(sample.drive, wrong), "$"), "(no image)") << wrong;
    }
}

TEST(DiskImage, NamesMatchAsTheDriveMatchesThem)
{
    TestImage image(1541, 174848);
    const std::pair<std::uint8_t, const char*> entries[] = {
        {0x00, "MENU"}, {0x01, "MENU"}, {0x84, "MENU"}, {0x82, "MENU"},
        {0x81, "MENU"}, {0xC1, "\xd2\xc5\xc1\xc4ME"}, {0x83, "NOTES"}, {0x81, "?*"},
    };
    for (unsigned n = 0; n < 8; ++n) {
        image.entry(n, entries[n].first, entries[n].second, 1, n);
        image.chain({{1, n}}, "file " + std::to_string(n));
    }
    const std::pair<std::string, std::string> cases[] = {
        // Deleted, unclosed and REL entries never match; the first of the rest does.
        {"MENU", "file 3"}, {"menu", "file 3"}, {"\xcd\xc5\xce\xd5", "file 3"}, {"M?NU", "file 3"},
        {"ME*", "file 3"}, {"*", "file 3"}, {"?*", "file 3"}, {"MENU,S", "file 4"}, {"menu,s", "file 4"},
        {"MENU,P", "file 3"}, {"*,U", "file 6"}, {"N*X", "file 6"}, {"readme", "file 5"},
        {"MEN", "(none)"}, {"MENUS", "(none)"}, {"MENU,U", "(none)"}, {"", "(none)"}, {"NOTES,X", "(none)"},
        {",S", "(none)"},
    };
    for (const auto& [name, codes] : cases)
        EXPECT_EQ(readOff(image, name), codes) << name;
}

TEST(DiskImage, ListsTheDirectoryAsTheMachinePrintsIt)
{
    TestImage image(1541, 174848);
    std::uint8_t* header = image.at(18, 0);
    std::fill_n(header + 0x90, 27, 0xA0);
    std::copy_n("MY DISK", 7, header + 0x90);
    std::copy_n("AB\xa0" "2A", 5, header + 0xA2);
    for (unsigned track = 1; track <= 35; ++track)
        header[4 * track] = static_cast<std::uint8_t>(track == 18 ? 17 : 19);
    image.entry(0, 0xC1, "README", 1, 0, 12);
    image.entry(1, 0x00, "GONE", 1, 0, 3);
    image.entry(2, 0x02, "SIXTEEN CHARS!!!", 1, 0, 1234);
    image.entry(3, 0x80, "----------------", 0, 0, 0);
    image.entry(4, 0x86, "SUB", 1, 0, 65535);
    EXPECT_EQ(readOff(image, "$", 7), "0 \x12\"MY DISK         \" AB 2A\r"
                                      "12   \"README\"           SEQ<\r"
                                      "1234 \"SIXTEEN CHARS!!!\"*PRG\r"
                                      "0    \"----------------\" DEL\r"
                                      "65535 \"SUB\"              DIR\r"
                                      "646 BLOCKS FREE.\r");
}

TEST(DiskImage, BrokenChainsAreDamageNotEndlessReads)
{
    // A file's sectors; from 18/1, the directory's.
    const std::vector<std::pair<unsigned, unsigned>> cases[] = {
        {{0, 0}}, {{17, 21}}, {{1, 0}, {36, 0}}, {{1, 0}, {2, 0}, {1, 0}}, {{1, 0}, {1, 0}},
        {{18, 1}, {18, 1}}, {{18, 1}, {18, 19}},
    };
    for (const auto& chain : cases) {
        TestImage image(1541, 174848);
        image.chain(chain, std::string(600, 'x'));
        if (chain[0].first == 18) {
            image.entry(0, 0x81, "FIRST", 1, 0);
            image.chain({{1, 0}}, "first");
            // A file ahead of the break is found before it.
            EXPECT_EQ(readOff(image, "FIRST"), "first");
            EXPECT_EQ(readOff(image, "$", 254), "(damaged)");
        } else {
            image.entry(0, 0x81, "FILE", chain[0].first, chain[0].second);
        }
        EXPECT_EQ(readOff(image, "FILE"), "(damaged)") << chain.back().first;
    }
}
