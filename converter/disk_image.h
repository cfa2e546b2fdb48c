#pragma once

// Reading files and the directory listing out of .d64, .d71 and .d81 disk images.

#include "block_pump.h"

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>
#include <vector>

/// The largest disk image there is: a D81 with its error bytes.
inline constexpr std::size_t largestImageSize = 822400;

/// Where a kind of image keeps its sectors, header, BAM and directory.
struct ImageGeometry;

/// A disk image's bytes, its kind recognised by their size alone. The bytes
/// are not copied and must outlive it.
class DiskImage {
public:
    explicit DiskImage(std::span<const std::uint8_t> bytes);

    /// False when no kind of image has this size.
    bool recognised() const { return geometry != nullptr; }

    /// The number of sectors on the image (0 when it is not recognised).
    std::size_t sectorCount() const;

    /// The position of `sector` of `track` among all sectors, or -1 when the image has no such sector.
    std::ptrdiff_t sectorIndex(unsigned track, unsigned sector) const;

    /// The 256 bytes of the sector at `index` (from sectorIndex).
    const std::uint8_t* sectorAt(std::ptrdiff_t index) const { return bytes.data() + index * 256; }

    const ImageGeometry* geometry = nullptr;  // nullptr when not recognised
    unsigned tracks = 0;                      // 35 to 80

private:
    std::span<const std::uint8_t> bytes;
};

/// The most sectors any image has: 80 tracks of 40.
inline constexpr std::size_t maxSectors = 3200;

/// Follows a chain of linked sectors (each starting with the next one's track
/// and sector, track 0 in the last), stopping at a link that leads outside the
/// image or back to a sector it already gave.
class SectorChain {
public:
    /// A chain with nothing to give until `start`.
    explicit SectorChain(const DiskImage& image) : image(image) {}

    /// Starts over at `sector` of `track`, forgetting the sectors already given.
    void start(unsigned track, unsigned sector);

    /// The next sector's 256 bytes, or nullptr after the last one or once the chain is broken.
    const std::uint8_t* next();

    /// True once a link has led outside the image or back into the chain.
    bool broken() const { return isBroken; }

private:
    const DiskImage& image;
    unsigned track = 0;
    unsigned sector = 0;
    bool ended = true;
    bool isBroken = false;
    std::bitset<maxSectors> visited;
};

/// Reads one thing off an image as a stream of PETSCII codes: the data of
/// the first file a name matches, or, for the name "$", the directory listing
/// the machine prints after LOAD"$",8 and LIST.
class ImageReader {
public:
    enum class Status { reading, notFound, damaged };

    /// Looks `name` (PETSCII codes) up on `image`, which must be recognised.
    ImageReader(const DiskImage& image, std::span<const std::uint8_t> name);

    /// `notFound` when no entry matches; `damaged` when the directory chain
    /// broke before a match; otherwise `reading`, also after a later break.
    Status status() const { return state; }

    /// Moves on to the next entry the name matches, to read it from its start.
    /// Returns false after the last, with status() `notFound`, or `damaged`
    /// when the directory chain broke first.
    bool nextMatch();

    /// The codes of the name of the entry being read; "$" for the listing.
    std::span<const std::uint8_t> entryName() const;

    /// Copies up to `size` next codes to `data`. Returns the count, 0 at the
    /// end, or -1 once a chain is broken.
    std::ptrdiff_t read(std::uint8_t* data, std::size_t size);

private:
    /// Refills `pending` with the next sector's data or the next listing line; false at the end or on a break.
    bool refill();
    /// Puts the listing's next line into `line`; false after the last.
    bool nextListingLine();
    /// The next 32-byte directory entry in directory order, or nullptr at the end or on a break.
    const std::uint8_t* nextEntry();

    const DiskImage& image;
    std::vector<std::uint8_t> pattern;
    const std::uint8_t* matched = nullptr;  // the entry being read
    Status state = Status::notFound;
    bool listing = false;
    SectorChain directory;
    const std::uint8_t* directorySector = nullptr;
    unsigned entryIndex = 8;  // the next entry in `directorySector`
    enum class Listing { header, entries, ended } listingAt = Listing::header;
    SectorChain file;
    const std::uint8_t* pending = nullptr;
    std::size_t pendingSize = 0;
    std::uint8_t line[64] = {};
};

/// A file or the listing on a disk image, read as the pump's input.
class ImageInput final : public InputSource {
public:
    enum class Opened { notAnImage, notFound, opened };

    /// Reads the image that `file` holds to its end and looks `name` up on it;
    /// `name` is written as in a text file, so tags name any code. Returns
    /// notAnImage when the size is no image's. A failed read of the image is
    /// `opened`, and reported by the first read.
    Opened open(int file, std::string_view name);

    /// True after `open` returned `opened`.
    bool isOpen() const { return opened; }

    /// The error number the first read will report (0 for none): reading
    /// the image failed, or the directory broke before a match.
    unsigned error() const { return failure; }

    /// The reader of what `open` found.
    ImageReader& found() { return *reader; }

    /// Reads the next codes. Returns the count, 0 at the end, or -1 with
    /// `error` set (5 for a broken chain).
    std::ptrdiff_t read(void* data, std::size_t size, unsigned& error) override;

private:
    std::unique_ptr<std::uint8_t[]> bytes;
    std::unique_ptr<DiskImage> image;
    std::unique_ptr<ImageReader> reader;
    unsigned failure = 0;
    bool opened = false;
};
