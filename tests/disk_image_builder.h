#pragma once

// Lays out small disk images for tests: entries of the first directory sector
// and the sector chains of their files, placed by the drives' geometry.

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct TestImage {
    int drive;  // 1541, 1571 or 1581
    std::vector<std::uint8_t> bytes;

    TestImage(int drive, std::size_t size) : drive(drive), bytes(size, 0) {}
    static unsigned sectorsOn(int drive, unsigned track)
    {
        track -= drive == 1571 && track > 35 ? 35 : 0;
        return drive == 1581 ? 40 : track <= 17 ? 21 : track <= 24 ? 19 : track <= 30 ? 18 : 17;
    }
    unsigned directoryTrack() const { return drive == 1581 ? 40 : 18; }
    std::uint8_t* at(unsigned track, unsigned sector)  // nullptr past the end
    {
        for (unsigned before = 1; before < track; ++before)
            sector += sectorsOn(drive, before);
        return sector * 256u < bytes.size() ? &bytes[sector * 256u] : nullptr;
    }
    void entry(unsigned n, std::uint8_t type, const std::string& name, unsigned track, unsigned sector,
               unsigned blocks = 1)
    {
        std::uint8_t* entry = at(directoryTrack(), drive == 1581 ? 3 : 1) + 32 * n;
        const std::uint8_t fields[] = {type, std::uint8_t(track), std::uint8_t(sector)};
        std::copy_n(fields, 3, entry + 2);
        std::fill_n(entry + 5, 16, 0xA0);
        std::copy_n(name.begin(), std::min<std::size_t>(name.size(), 16), entry + 5);
        entry[30] = std::uint8_t(blocks), entry[31] = std::uint8_t(blocks >> 8);
    }
    /// Spreads `data` over `chain`, 254 bytes a sector; laid out from the end,
    /// so a sector named twice links on as its first place says.
    void chain(const std::vector<std::pair<unsigned, unsigned>>& chain, const std::string& data)
    {
        for (std::size_t i = chain.size(); i-- > 0;) {
            const bool last = i + 1 == chain.size();
            const std::string part = data.substr(std::min(data.size(), i * 254), 254);
            if (std::uint8_t* sector = at(chain[i].first, chain[i].second)) {
                sector[0] = std::uint8_t(last ? 0 : chain[i + 1].first);
                sector[1] = std::uint8_t(last ? part.size() + 1 : chain[i + 1].second);
                std::copy(part.begin(), part.end(), sector + 2);
            }
        }
    }
};
