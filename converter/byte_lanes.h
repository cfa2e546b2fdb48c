#pragma once

// Sixteen bytes handled as one value, for the loops that classify and
// translate text many bytes at a time. GCC and Clang get their shared vector
// extensions (one SSE2 or NEON register, no intrinsics); any other compiler,
// or a build with KALMORA_PORTABLE_LANES defined, gets a plain array with the
// same operations, which gives the same results more slowly.

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lanes {

/// The number of bytes in one value.
inline constexpr std::size_t width = 16;

#if (defined(__GNUC__) || defined(__clang__)) && !defined(KALMORA_PORTABLE_LANES)

/// Sixteen unsigned bytes; arithmetic wraps in each lane.
using Bytes = std::uint8_t __attribute__((vector_size(16)));

/// Returns `value` in every lane.
inline Bytes splat(std::uint8_t value)
{
    return Bytes{} + value;
}

/// Returns 0xFF in each lane where `a` equals `b`, 0 elsewhere.
inline Bytes equal(Bytes a, Bytes b)
{
    return (Bytes)(a == b);
}

/// Returns 0xFF in each lane where `a` is below `b` as unsigned bytes, 0 elsewhere.
inline Bytes below(Bytes a, Bytes b)
{
    return (Bytes)(a < b);
}

#else

/// Sixteen unsigned bytes; arithmetic wraps in each lane.
struct Bytes {
    std::uint8_t lane[width];
};

// Applies `operation` lane by lane.
template <typename Operation>
inline Bytes eachLane(Bytes a, Bytes b, Operation operation)
{
    Bytes result;
    for (std::size_t i = 0; i < width; ++i)
        result.lane[i] = static_cast<std::uint8_t>(operation(a.lane[i], b.lane[i]));
    return result;
}

inline Bytes operator+(Bytes a, Bytes b) { return eachLane(a, b, [](unsigned x, unsigned y) { return x + y; }); }
inline Bytes operator-(Bytes a, Bytes b) { return eachLane(a, b, [](unsigned x, unsigned y) { return x - y; }); }
inline Bytes operator&(Bytes a, Bytes b) { return eachLane(a, b, [](unsigned x, unsigned y) { return x & y; }); }
inline Bytes operator|(Bytes a, Bytes b) { return eachLane(a, b, [](unsigned x, unsigned y) { return x | y; }); }
inline Bytes operator~(Bytes a) { return eachLane(a, a, [](unsigned x, unsigned) { return ~x; }); }

/// Returns `value` in every lane.
inline Bytes splat(std::uint8_t value)
{
    Bytes result;
    std::memset(result.lane, value, width);
    return result;
}

/// Returns 0xFF in each lane where `a` equals `b`, 0 elsewhere.
inline Bytes equal(Bytes a, Bytes b)
{
    return eachLane(a, b, [](unsigned x, unsigned y) { return x == y ? 0xFFu : 0u; });
}

/// Returns 0xFF in each lane where `a` is below `b` as unsigned bytes, 0 elsewhere.
inline Bytes below(Bytes a, Bytes b)
{
    return eachLane(a, b, [](unsigned x, unsigned y) { return x < y ? 0xFFu : 0u; });
}

#endif

/// Reads 16 bytes from `bytes`, which need not be aligned.
inline Bytes load(const void* bytes)
{
    Bytes value;
    std::memcpy(&value, bytes, width);
    return value;
}

/// Writes the 16 bytes of `value` to `bytes`, which need not be aligned.
inline void store(void* bytes, Bytes value)
{
    std::memcpy(bytes, &value, width);
}

/// Returns whether any lane of `value` is not zero.
inline bool any(Bytes value)
{
    std::uint64_t halves[2];
    std::memcpy(halves, &value, width);
    return (halves[0] | halves[1]) != 0;
}

/// Returns one bit per lane of `flags` (each lane 0 or 0xFF): bit i is lane i's top bit.
inline std::uint32_t mask(Bytes flags)
{
#if defined(__SSE2__) && (defined(__GNUC__) || defined(__clang__)) && !defined(KALMORA_PORTABLE_LANES)
    // Every x86-64 processor has the instruction that does just this.
    __m128i value;
    std::memcpy(&value, &flags, width);
    return static_cast<std::uint32_t>(_mm_movemask_epi8(value));
#else
    std::uint64_t halves[2];
    std::memcpy(halves, &flags, width);
    // The multiplier moves the top bit of byte k to bit 56 + k; no two
    // products overlap, so nothing carries.
    constexpr std::uint64_t topBits = 0x8080808080808080ULL;
    constexpr std::uint64_t gather = 0x0002040810204081ULL;
    const auto low = static_cast<std::uint32_t>((halves[0] & topBits) * gather >> 56);
    const auto high = static_cast<std::uint32_t>((halves[1] & topBits) * gather >> 56);
    return low | high << 8;
#endif
}

}  // namespace lanes
