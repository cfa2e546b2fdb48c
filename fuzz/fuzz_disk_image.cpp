// The disk-image reader on hostile images. Input: one byte choosing the
// image's size (one of the ten sizes an image comes in), one byte for the
// size of each read, one byte giving the length (up to 16) of the name that
// follows, and then the image's contents: repeated from the first sector of
// the directory track to the end of the image, and on from its start, so that
// header, BAM and directory come first and every link lands on chosen bytes.
// The image is a buffer of exactly its size, so AddressSanitizer sees any
// read outside it.
//
// Properties: no crash or sanitizer report; every read ends, within a bound
// set by the image's sector count; the listing is well formed (the header
// line, entry lines, the free-blocks line); reading in any step size gives
// the same codes; a name found in the listing reads without looping.

#include "disk_image.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace {

constexpr std::size_t imageSizes[] = {174848, 175531, 196608, 197376, 205312,
                                      206114, 349696, 351062, 819200, 822400};

struct Outcome {
    ImageReader::Status status;
    bool damaged;  // a read failed
    std::string codes;
};

// Reads `name` off `image` to its end in reads of `step` codes.
Outcome readAll(const DiskImage& image, const std::string& name, std::size_t step)
{
    ImageReader reader(image, std::span(reinterpret_cast<const std::uint8_t*>(name.data()), name.size()));
    Outcome outcome{reader.status(), false, {}};
    if (outcome.status != ImageReader::Status::reading)
        return outcome;
    // Each sector gives at most 254 codes, each entry a listing line of at
    // most 30, so a read that keeps giving codes past this bound is a loop.
    const std::size_t bound = 32 + image.sectorCount() * 8 * 32;
    std::vector<std::uint8_t> block(step);
    for (;;) {
        const std::ptrdiff_t count = reader.read(block.data(), step);
        FUZZ_CHECK(count >= -1 && count <= static_cast<std::ptrdiff_t>(step));
        if (count <= 0) {
            outcome.damaged = count < 0;
            // Once ended or broken, a reader stays so.
            FUZZ_CHECK(reader.read(block.data(), step) == count);
            return outcome;
        }
        outcome.codes.append(block.begin(), block.begin() + count);
        FUZZ_CHECK(outcome.codes.size() <= bound);
    }
}

bool isDigits(const std::string& text, std::size_t from, std::size_t to)
{
    for (std::size_t i = from; i < to; ++i) {
        if (text[i] < '0' || text[i] > '9')
            return false;
    }
    return to > from;
}

// Checks the listing line by line; returns the names of its entries.
std::vector<std::string> checkListing(const std::string& listing, bool complete)
{
    std::vector<std::string> names;
    FUZZ_CHECK(listing.size() >= 28);
    FUZZ_CHECK(listing.compare(0, 4, "0 \x12\"") == 0 && listing[20] == '"' && listing[21] == ' ');
    FUZZ_CHECK(listing[24] == ' ' && listing[27] == '\r');
    std::size_t at = 28;
    for (;;) {
        // A broken directory ends the listing after a whole line, with no free-blocks line.
        if (at == listing.size()) {
            FUZZ_CHECK(!complete);
            return names;
        }
        std::size_t digits = at;
        while (digits < listing.size() && listing[digits] >= '0' && listing[digits] <= '9')
            ++digits;
        FUZZ_CHECK(isDigits(listing, at, digits) && digits < listing.size());
        if (listing.compare(digits, 14, " BLOCKS FREE.\r") == 0) {
            FUZZ_CHECK(complete && digits + 14 == listing.size() && digits - at <= 5);
            return names;
        }
        // The count, padded to 5 with at least one space, then the quoted name
        // padded to 16, the closed mark, the type and perhaps the locked mark.
        FUZZ_CHECK(digits - at <= 5);
        std::size_t quote = digits;
        while (quote < listing.size() && listing[quote] == ' ')
            ++quote;
        FUZZ_CHECK(quote > digits && (quote - at == 5 || quote == digits + 1));
        FUZZ_CHECK(quote + 22 <= listing.size() && listing[quote] == '"');
        const std::size_t close = listing.find_last_of('"', quote + 17);
        FUZZ_CHECK(close > quote);
        const std::string name = listing.substr(quote + 1, close - quote - 1);
        FUZZ_CHECK(name.find('\xa0') == std::string::npos);
        FUZZ_CHECK(listing.find_first_not_of(' ', close + 1) >= quote + 18);
        FUZZ_CHECK(listing[quote + 18] == ' ' || listing[quote + 18] == '*');
        const std::string type = listing.substr(quote + 19, 3);
        bool known = false;
        for (const char* each : {"DEL", "SEQ", "PRG", "USR", "REL", "CBM", "DIR", "???"})
            known = known || type == each;
        FUZZ_CHECK(known);
        at = quote + 22 + (listing[quote + 22] == '<');
        FUZZ_CHECK(at < listing.size() && listing[at] == '\r');
        ++at;
        names.push_back(name);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::size_t imageSize = imageSizes[data[0] % std::size(imageSizes)];
    const std::size_t step = data[1] + 1u;
    const std::size_t nameLength = std::min<std::size_t>(data[2] % 17, size - 3);
    const std::string name(reinterpret_cast<const char*>(data + 3), nameLength);
    const std::uint8_t* contents = data + 3 + nameLength;
    const std::size_t contentSize = size - 3 - nameLength;

    std::vector<std::uint8_t> bytes(imageSize);
    const DiskImage image(bytes);
    FUZZ_CHECK(image.recognised() && image.sectorCount() * 256 <= imageSize);
    const std::ptrdiff_t directory = image.sectorIndex(image.tracks == 80 ? 40 : 18, 0);
    FUZZ_CHECK(directory > 0);
    for (std::size_t done = 0; contentSize != 0 && done < imageSize;) {
        const std::size_t at = (static_cast<std::size_t>(directory) * 256 + done) % imageSize;
        const std::size_t from = done % contentSize;
        const std::size_t count = std::min({contentSize - from, imageSize - done, imageSize - at});
        std::memcpy(bytes.data() + at, contents + from, count);
        done += count;
    }

    const Outcome listing = readAll(image, "$", step);
    FUZZ_CHECK(listing.status == ImageReader::Status::reading);
    FUZZ_CHECK(readAll(image, "$", 65536).codes == listing.codes);
    const std::vector<std::string> names = checkListing(listing.codes, !listing.damaged);

    std::vector<std::string> tried = {name, "*"};
    if (!names.empty())
        tried.push_back(names.back());
    for (const std::string& each : tried) {
        const Outcome file = readAll(image, each, step);
        const Outcome again = readAll(image, each, 65536);
        FUZZ_CHECK(file.status == again.status && file.damaged == again.damaged && file.codes == again.codes);
        FUZZ_CHECK(file.codes.size() <= image.sectorCount() * 254);
        // An empty name never gives a file.
        FUZZ_CHECK(!each.empty() || file.status != ImageReader::Status::reading);
    }
    return 0;
}
