#include "disk_image.h"

#include "conversion.h"
#include "platform.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <vector>

// A run of tracks with the same number of sectors, up to `lastTrack`.
struct TrackZone {
    unsigned lastTrack;
    unsigned sectors;
};

// Where the BAM keeps the free-sector counts of tracks `firstTrack` to
// `lastTrack`: in `sector` of the directory track, from `offset`, `stride` apart.
struct BamPart {
    unsigned sector;
    unsigned offset;
    unsigned stride;
    unsigned firstTrack;
    unsigned lastTrack;
};

struct ImageGeometry {
    std::span<const TrackZone> zones;
    unsigned directoryTrack;  // holds the header, the BAM and the directory
    unsigned headerSector;    // the disk's name, ID and DOS type
    unsigned nameOffset;      // 16 codes, padded with $A0
    unsigned idOffset;        // 2 codes
    unsigned dosOffset;       // 2 codes
    unsigned firstDirectorySector;
    std::span<const BamPart> bam;
    unsigned secondMapTrack;  // holds side 2's BAM, never counted free; 0 for none
};

namespace {

// 1541: four speed zones; tracks 36 to 42 (written by some copiers) are as 31 to 35.
constexpr TrackZone zones1541[] = {{17, 21}, {24, 19}, {30, 18}, {42, 17}};
// 1571: two sides, each the 1541's 35 tracks.
constexpr TrackZone zones1571[] = {{17, 21}, {24, 19}, {30, 18}, {35, 17}, {52, 21}, {59, 19}, {65, 18}, {70, 17}};
// 1581: 80 tracks of 40 sectors.
constexpr TrackZone zones1581[] = {{80, 40}};

// 1541: 18/0 counts tracks 1 to 35 only, so 40- and 42-track images show the stock drive's figure.
constexpr BamPart bam1541[] = {{0, 0x04, 4, 1, 35}};
// 1571: side 2's counts follow side 1's bitmaps in 18/0.
constexpr BamPart bam1571[] = {{0, 0x04, 4, 1, 35}, {0, 0xDD, 1, 36, 70}};
// 1581: 40/1 for tracks 1 to 40, 40/2 for 41 to 80, six bytes a track.
constexpr BamPart bam1581[] = {{1, 0x10, 6, 1, 40}, {2, 0x10, 6, 41, 80}};

// D64: header and BAM in 18/0, directory from 18/1.
constexpr ImageGeometry d64 = {zones1541, 18, 0, 0x90, 0xA2, 0xA5, 1, bam1541, 0};
// D71: as the D64, with side 2's part of the BAM, and side 2's map in track 53.
constexpr ImageGeometry d71 = {zones1571, 18, 0, 0x90, 0xA2, 0xA5, 1, bam1571, 53};
// D81: header in 40/0, BAM in 40/1 and 40/2, directory from 40/3.
constexpr ImageGeometry d81 = {zones1581, 40, 0, 0x04, 0x16, 0x19, 3, bam1581, 0};

struct ImageKind {
    std::size_t size;
    unsigned tracks;
    const ImageGeometry* geometry;
};

// Every size an image comes in; the error bytes (one per sector) that follow
// the sectors in the longer form are ignored.
constexpr ImageKind imageKinds[] = {
    {174848, 35, &d64},  // D64, 35 tracks
    {175531, 35, &d64},  // D64, 35 tracks with error bytes
    {196608, 40, &d64},  // D64, 40 tracks
    {197376, 40, &d64},  // D64, 40 tracks with error bytes
    {205312, 42, &d64},  // D64, 42 tracks
    {206114, 42, &d64},  // D64, 42 tracks with error bytes
    {349696, 70, &d71},  // D71
    {351062, 70, &d71},  // D71 with error bytes
    {819200, 80, &d81},  // D81
    {822400, 80, &d81},  // D81 with error bytes
};

// Entry bytes: 2 type, 3-4 first track and sector, 5-20 name, 30-31 block count.
constexpr unsigned entryType = 2;
constexpr unsigned entryName = 5;
constexpr unsigned entryBlocks = 30;
constexpr std::uint8_t closedFlag = 0x80;
constexpr std::uint8_t lockedFlag = 0x40;
constexpr std::uint8_t padding = 0xA0;

// File types in the type byte's low three bits, as the drive reads them; only
// these three hold a plain chain of data.
constexpr std::uint8_t typeBits = 0x07;
constexpr unsigned typeSeq = 1;
constexpr unsigned typePrg = 2;
constexpr unsigned typeUsr = 3;
constexpr const char* typeNames[] = {"DEL", "SEQ", "PRG", "USR", "REL", "CBM", "DIR"};

// The letter (0 for A) that `code` stands for in any of its three codes, or -1.
int letterOf(std::uint8_t code)
{
    for (const unsigned first : {65u, 97u, 193u}) {
        if (code >= first && code < first + 26)
            return static_cast<int>(code - first);
    }
    return -1;
}

// The entry's name: its bytes up to the first padding byte, at most 16.
std::span<const std::uint8_t> nameOf(const std::uint8_t* entry)
{
    const std::uint8_t* name = entry + entryName;
    return {name, static_cast<std::size_t>(std::find(name, name + 16, padding) - name)};
}

// Whether `pattern` picks `entry`: letters in any of their codes, "?" any one
// code, "*" the rest, and a type suffix ",s", ",p" or ",u" that allows only
// that type. Only closed files with data to read are picked.
bool matches(std::span<const std::uint8_t> pattern, const std::uint8_t* entry)
{
    const std::uint8_t type = entry[entryType];
    const unsigned kind = type & typeBits;
    if ((type & closedFlag) == 0 || kind < typeSeq || kind > typeUsr)
        return false;
    if (pattern.size() >= 2 && pattern[pattern.size() - 2] == ',') {
        const int letter = letterOf(pattern.back());
        const unsigned wanted = letter == 'S' - 'A'   ? typeSeq
                                : letter == 'P' - 'A' ? typePrg
                                : letter == 'U' - 'A' ? typeUsr
                                                      : 0;
        if (wanted != 0) {
            if (kind != wanted)
                return false;
            pattern = pattern.first(pattern.size() - 2);
        }
    }
    if (pattern.empty())
        return false;
    const std::span<const std::uint8_t> name = nameOf(entry);
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '*')
            return true;
        if (i >= name.size())
            return false;
        const int letter = letterOf(pattern[i]);
        if (pattern[i] != '?' && (letter >= 0 ? letter != letterOf(name[i]) : pattern[i] != name[i]))
            return false;
    }
    return pattern.size() == name.size();
}

// Appends `number` in decimal at `at`; returns the new end.
std::uint8_t* appendNumber(std::uint8_t* at, unsigned number)
{
    char digits[12];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + number % 10);
        number /= 10;
    } while (number != 0);
    while (count > 0)
        *at++ = static_cast<std::uint8_t>(digits[--count]);
    return at;
}

std::uint8_t* appendText(std::uint8_t* at, const char* text)
{
    while (*text != '\0')
        *at++ = static_cast<std::uint8_t>(*text++);
    return at;
}

}  // namespace

DiskImage::DiskImage(std::span<const std::uint8_t> bytes) : bytes(bytes)
{
    for (const ImageKind& kind : imageKinds) {
        if (kind.size == bytes.size()) {
            geometry = kind.geometry;
            tracks = kind.tracks;
        }
    }
}

std::size_t DiskImage::sectorCount() const
{
    if (geometry == nullptr)
        return 0;
    std::size_t count = 0;
    unsigned firstTrack = 1;
    for (const TrackZone& zone : geometry->zones) {
        const unsigned lastTrack = std::min(zone.lastTrack, tracks);
        if (lastTrack >= firstTrack)
            count += (lastTrack - firstTrack + 1) * zone.sectors;
        firstTrack = zone.lastTrack + 1;
    }
    return count;
}

std::ptrdiff_t DiskImage::sectorIndex(unsigned track, unsigned sector) const
{
    if (geometry == nullptr || track < 1 || track > tracks)
        return -1;
    std::ptrdiff_t index = 0;
    unsigned firstTrack = 1;
    for (const TrackZone& zone : geometry->zones) {
        if (track <= zone.lastTrack) {
            if (sector >= zone.sectors)
                return -1;
            return index + static_cast<std::ptrdiff_t>((track - firstTrack) * zone.sectors + sector);
        }
        index += static_cast<std::ptrdiff_t>((zone.lastTrack - firstTrack + 1) * zone.sectors);
        firstTrack = zone.lastTrack + 1;
    }
    return -1;
}

void SectorChain::start(unsigned firstTrack, unsigned firstSector)
{
    track = firstTrack;
    sector = firstSector;
    ended = false;
    isBroken = false;
    visited.reset();
}

const std::uint8_t* SectorChain::next()
{
    if (ended)
        return nullptr;
    const std::ptrdiff_t index = image.sectorIndex(track, sector);
    // A link outside the image, or back into the chain, which would never end.
    if (index < 0 || visited.test(static_cast<std::size_t>(index))) {
        ended = isBroken = true;
        return nullptr;
    }
    visited.set(static_cast<std::size_t>(index));
    const std::uint8_t* bytes = image.sectorAt(index);
    track = bytes[0];
    sector = bytes[1];
    ended = track == 0;
    return bytes;
}

ImageReader::ImageReader(const DiskImage& image, std::span<const std::uint8_t> name)
    : image(image), pattern(name.begin(), name.end()), directory(image), file(image)
{
    directory.start(image.geometry->directoryTrack, image.geometry->firstDirectorySector);
    if (name.size() == 1 && name[0] == '$') {
        listing = true;
        state = Status::reading;
        return;
    }
    // The first match in directory order, as the drive takes it.
    nextMatch();
}

bool ImageReader::nextMatch()
{
    pendingSize = 0;
    while (!listing && (matched = nextEntry()) != nullptr) {
        if (matches(pattern, matched)) {
            file.start(matched[3], matched[4]);
            state = Status::reading;
            return true;
        }
    }
    state = directory.broken() ? Status::damaged : Status::notFound;
    return false;
}

std::span<const std::uint8_t> ImageReader::entryName() const
{
    static constexpr std::uint8_t listingName[] = {'$'};
    return listing || matched == nullptr ? std::span<const std::uint8_t>(listingName) : nameOf(matched);
}

const std::uint8_t* ImageReader::nextEntry()
{
    for (;;) {
        if (directorySector != nullptr && entryIndex < 8)
            return directorySector + 32 * entryIndex++;
        directorySector = directory.next();
        entryIndex = 0;
        if (directorySector == nullptr)
            return nullptr;
    }
}

bool ImageReader::nextListingLine()
{
    const ImageGeometry& geometry = *image.geometry;
    std::uint8_t* at = line;
    if (listingAt == Listing::header) {
        const std::uint8_t* header = image.sectorAt(image.sectorIndex(geometry.directoryTrack, geometry.headerSector));
        at = appendText(at, "0 \x12\"");
        for (unsigned i = 0; i < 16; ++i) {
            const std::uint8_t code = header[geometry.nameOffset + i];
            *at++ = code == padding ? ' ' : code;
        }
        at = appendText(at, "\" ");
        at = std::copy_n(header + geometry.idOffset, 2, at);
        *at++ = ' ';
        at = std::copy_n(header + geometry.dosOffset, 2, at);
        listingAt = Listing::entries;
    } else if (listingAt == Listing::entries) {
        const std::uint8_t* entry = nextEntry();
        // Deleted entries (type 0) are not listed.
        while (entry != nullptr && entry[entryType] == 0)
            entry = nextEntry();
        if (entry == nullptr && directory.broken())
            return false;
        if (entry != nullptr) {
            const std::uint8_t* const start = at;
            at = appendNumber(at, entry[entryBlocks] | entry[entryBlocks + 1] << 8);
            do
                *at++ = ' ';
            while (at - start < 5);
            const std::span<const std::uint8_t> name = nameOf(entry);
            *at++ = '"';
            at = std::copy(name.begin(), name.end(), at);
            *at++ = '"';
            at = std::fill_n(at, 16 - name.size(), ' ');
            const std::uint8_t type = entry[entryType];
            *at++ = (type & closedFlag) != 0 ? ' ' : '*';
            at = appendText(at, (type & typeBits) < std::size(typeNames) ? typeNames[type & typeBits] : "???");
            if ((type & lockedFlag) != 0)
                *at++ = '<';
        } else {
            unsigned free = 0;
            for (const BamPart& part : geometry.bam) {
                const std::uint8_t* bam = image.sectorAt(image.sectorIndex(geometry.directoryTrack, part.sector));
                for (unsigned track = part.firstTrack; track <= part.lastTrack && track <= image.tracks; ++track) {
                    if (track != geometry.directoryTrack && track != geometry.secondMapTrack)
                        free += bam[part.offset + (track - part.firstTrack) * part.stride];
                }
            }
            at = appendText(appendNumber(at, free), " BLOCKS FREE.");
            listingAt = Listing::ended;
        }
    } else {
        return false;
    }
    *at++ = 13;
    pending = line;
    pendingSize = static_cast<std::size_t>(at - line);
    return true;
}

bool ImageReader::refill()
{
    if (listing)
        return nextListingLine();
    const std::uint8_t* sector = file.next();
    if (sector == nullptr)
        return false;
    pending = sector + 2;
    // The last sector's second byte is the index of its last data byte.
    pendingSize = sector[0] != 0 ? 254 : sector[1] >= 2 ? sector[1] - 1u : 0;
    return true;
}

std::ptrdiff_t ImageReader::read(std::uint8_t* data, std::size_t size)
{
    std::size_t done = 0;
    while (done < size) {
        if (pendingSize == 0) {
            if (!refill())
                break;
            continue;
        }
        const std::size_t count = std::min(size - done, pendingSize);
        std::memcpy(data + done, pending, count);
        pending += count;
        pendingSize -= count;
        done += count;
    }
    if (done == 0 && (directory.broken() || file.broken()))
        return -1;
    return static_cast<std::ptrdiff_t>(done);
}

ImageInput::Opened ImageInput::open(int file, std::string_view name)
{
    // One byte more than the largest image tells a larger file from it.
    constexpr std::size_t room = largestImageSize + 1;
    bytes = std::make_unique_for_overwrite<std::uint8_t[]>(room);
    std::size_t size = 0;
    while (size < room) {
        const std::ptrdiff_t count = platform::readFile(file, bytes.get() + size, room - size, failure);
        if (count < 0) {
            opened = true;
            return Opened::opened;
        }
        if (count == 0)
            break;
        size += static_cast<std::size_t>(count);
    }
    image = std::make_unique<DiskImage>(std::span<const std::uint8_t>(bytes.get(), size));
    if (!image->recognised())
        return Opened::notAnImage;
    std::vector<std::uint8_t> codes(name.size());
    TextToSeq converter;
    codes.resize(converter.convert(name.data(), name.size(), codes.data()));
    reader = std::make_unique<ImageReader>(*image, codes);
    if (reader->status() == ImageReader::Status::notFound)
        return Opened::notFound;
    if (reader->status() == ImageReader::Status::damaged)
        failure = EIO;
    opened = true;
    return Opened::opened;
}

std::ptrdiff_t ImageInput::read(void* data, std::size_t size, unsigned& error)
{
    if (failure != 0) {
        error = failure;
        return -1;
    }
    const std::ptrdiff_t count = reader->read(static_cast<std::uint8_t*>(data), size);
    if (count < 0)
        error = EIO;
    return count;
}
