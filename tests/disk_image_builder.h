#pragma once

// Lays out small disk images for tests, by the drives' geometry.

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
    std::uint8_t* at(unsigned track, unsigned sector)  // nullptr past the end
    {
        for (unsigned before = 1; before < track; ++before)
            sector += sectorsOn(drive, before);
        return sector * 256u < bytes.size() ? &bytes[sector * 256u] : nullptr;
    }
    /// Entry `n` of the first directory sector.
    void entry(unsigned n, std::uint8_t type, std::string name, unsigned track, unsigned sector, unsigned blocks = 1)
    {
        name.resize(16, '\xa0');
        const std::string fields = std::string{char(type), char(track), char(sector)} + name + std::string(9, '\0') +
                                   std::string{char(blocks), char(blocks >> 8)};
        std::copy(fields.begin(), fields.end(), at(drive == 1581 ? 40 : 18, drive == 1581 ? 3 : 1) + 32 * n + 2);
    }
    /// `data` over `chain`, 254 bytes a sector, laid out from the end: a sector named twice links as first named.
    void chain(const std::vector<std::pair<unsigned, unsigned>>& chain, const std::string& data)
    {
        for (std::size_t i = chain.size(); i-- > 0;) {
            const std::string part = data.substr(std::min(data.size(), i * 254), 254);
            const bool last = i + 1 == chain.size();
            const std::string link{char(last ? 0 : chain[i + 1].first), char(last ? part.size() + 1 : chain[i + 1].second)};
            if (std::uint8_t* sector = at(chain[i].first, chain[i].second))
                std::copy_n((link + part).begin(), part.size() + 2, sector);
        }
    }
};
