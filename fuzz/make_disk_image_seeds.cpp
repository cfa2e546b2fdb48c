// Writes the seed corpus of fuzz_disk_image into the folder named on the
// command line: small directories with files, deleted and unclosed entries,
// on each kind of image, and one whose directory and file chains loop.
// Each seed is in the target's input form (size choice, read size, name, then
// the sectors from the start of the directory track).

#include "disk_image_builder.h"

#include <fstream>
#include <string>

namespace {

void writeSeed(const std::string& folder, const std::string& seedName, unsigned sizeChoice, TestImage& image,
               unsigned sectors, const std::string& name)
{
    std::string seed = {static_cast<char>(sizeChoice), static_cast<char>(99), static_cast<char>(name.size())};
    seed += name;
    const std::uint8_t* first = image.at(image.drive == 1581 ? 40 : 18, 0);
    seed.append(first, first + sectors * 256);
    std::ofstream(folder + "/" + seedName, std::ios::binary) << seed;
}

// A header, a BAM that counts `free` on each track, and five entries whose
// files lie on the directory track after the first directory sector.
void fill(TestImage& image, unsigned tracks, bool loops)
{
    const unsigned dir = image.drive == 1581 ? 40 : 18;
    const bool d81 = image.drive == 1581;
    std::uint8_t* header = image.at(dir, 0);
    std::fill_n(header + (d81 ? 0x04 : 0x90), 27, 0xA0);
    std::copy_n("SEED DISK", 9, header + (d81 ? 0x04 : 0x90));
    std::copy_n(d81 ? "01\xa0" "3D" : "01\xa0" "2A", 5, header + (d81 ? 0x16 : 0xA2));
    for (unsigned track = 1; track <= tracks; ++track) {
        std::uint8_t* count = d81 ? image.at(dir, 1 + (track > 40)) + 0x10 + 6 * ((track - 1) % 40)
                              : track <= 35 ? header + 4 * track
                              : image.drive == 1571 ? header + 0xDD + track - 36 : nullptr;
        if (count != nullptr)
            *count = static_cast<std::uint8_t>(TestImage::sectorsOn(image.drive, track));
    }
    const unsigned first = d81 ? 4 : 2;
    image.entry(0, 0x81, "MENU", dir, first, 2);
    image.entry(1, 0xC2, "GAME", dir, first + 2, 1);
    image.entry(2, 0x00, "OLD", dir, first, 1);
    image.entry(3, 0x03, "SPLAT", dir, first, 1);
    image.entry(4, 0x84, "RECORDS", dir, first, 1);
    image.chain({{dir, first}, {dir, first + 1}}, std::string(300, '\x41') + "\x93\x05hello\x0d");
    image.chain({{dir, first + 2}}, std::string("\x01\x08", 2) + "program");
    if (loops) {
        image.chain({{dir, d81 ? 3u : 1u}, {dir, d81 ? 3u : 1u}}, "");
        image.chain({{dir, first + 2}, {dir, first + 2}}, "x");
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    if (argc != 2)
        return 2;
    const std::string folder = argv[1];
    const struct {
        const char* seedName;
        unsigned sizeChoice;  // index of the image size in the target's list
        int drive;
        std::size_t size;
        unsigned tracks;
        bool loops;
        const char* name;
    } seeds[] = {
        {"d64-35", 0, 1541, 174848, 35, false, "menu"},
        {"d64-42-errors", 5, 1541, 206114, 42, false, "g*,p"},
        {"d64-loops", 0, 1541, 174848, 35, true, "game"},
        {"d71", 6, 1571, 349696, 70, false, "M?NU,S"},
        {"d81", 8, 1581, 819200, 80, false, "*"},
    };
    for (const auto& seed : seeds) {
        TestImage image(seed.drive, seed.size);
        fill(image, seed.tracks, seed.loops);
        writeSeed(folder, seed.seedName, seed.sizeChoice, image, seed.drive == 1581 ? 7 : 5, seed.name);
    }
    return 0;
}
