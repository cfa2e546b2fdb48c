// The window loop for x86-64 processors with AVX2: a window is classified in
// two 32-byte registers, every tag is found at once from the brace masks
// (see text_loop_masks.h), and the codes that stay are packed eight at a
// time with byte shuffles.

#include "text_loop.h"

#if defined(__x86_64__)

#include "text_loop_masks.h"

#include <bit>
#include <cstring>

#include <immintrin.h>

#define KALMORA_AVX2 __attribute__((target("avx2,bmi,popcnt")))

namespace {

// 0xFF in each byte where `a` is below `b`, both taken as unsigned.
KALMORA_AVX2 inline __m256i below(__m256i a, __m256i b)
{
    return _mm256_andnot_si256(_mm256_cmpeq_epi8(_mm256_max_epu8(a, b), a), _mm256_set1_epi8(-1));
}

KALMORA_AVX2 inline __m256i equal(__m256i a, char b)
{
    return _mm256_cmpeq_epi8(a, _mm256_set1_epi8(b));
}

KALMORA_AVX2 inline std::uint64_t bits(__m256i low, __m256i high)
{
    return static_cast<std::uint32_t>(_mm256_movemask_epi8(low)) |
           std::uint64_t{static_cast<std::uint32_t>(_mm256_movemask_epi8(high))} << 32;
}

// The code of each byte as a one-character form, with CR and LF both giving
// 13: printable ASCII stands for itself with the cases of the letters
// swapped, and every other byte is no form.
KALMORA_AVX2 inline __m256i plainCodes(__m256i text)
{
    const __m256i same =
        _mm256_or_si256(_mm256_andnot_si256(equal(text, '"'), below(_mm256_sub_epi8(text, _mm256_set1_epi8(' ')),
                                                                     _mm256_set1_epi8('@' - ' ' + 1))),
                        _mm256_or_si256(equal(text, '['), equal(text, ']')));
    const __m256i upper = below(_mm256_sub_epi8(text, _mm256_set1_epi8('A')), _mm256_set1_epi8(26));
    const __m256i lower = below(_mm256_sub_epi8(text, _mm256_set1_epi8('a')), _mm256_set1_epi8(26));
    const __m256i lineEnd = _mm256_or_si256(equal(text, '\r'), equal(text, '\n'));
    const __m256i shift = _mm256_set1_epi8(32);
    return _mm256_or_si256(
        _mm256_or_si256(_mm256_and_si256(text, same), _mm256_and_si256(_mm256_add_epi8(text, shift), upper)),
        _mm256_or_si256(_mm256_and_si256(_mm256_sub_epi8(text, shift), lower),
                        _mm256_and_si256(_mm256_set1_epi8(13), lineEnd)));
}

}  // namespace

bool avx2LoopRuns()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("bmi") && __builtin_cpu_supports("popcnt");
}

KALMORA_AVX2 std::size_t convertWindowsAvx2(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes)
{
    std::uint8_t* next = codes;
    alignas(32) std::uint8_t windowCodes[windowSize];
    while (size - i >= windowReach) {
        const char* window = text + i;
        const __m256i low = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window));
        const __m256i high = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(window + 32));
        const windowMasks::Marks marks = {
            bits(equal(low, '{'), equal(high, '{')),   bits(equal(low, '}'), equal(high, '}')),
            bits(equal(low, '\0'), equal(high, '\0')), bits(equal(low, '\r'), equal(high, '\r')),
            bits(equal(low, '\n'), equal(high, '\n')),
        };
        const windowMasks::Plan plan = windowMasks::plan(marks);
        if (plan.byRules) {
            const std::size_t done = convertWindowsPortable(text, i, i + windowReach, next);
            if (done == i)
                break;
            i = done;
            continue;
        }
        if (plan.taken == 0)
            break;
        _mm256_store_si256(reinterpret_cast<__m256i*>(windowCodes), plainCodes(low));
        _mm256_store_si256(reinterpret_cast<__m256i*>(windowCodes + 32), plainCodes(high));
        // The kept codes packed, then the tags'.
        std::uint8_t* const kept = next;
        next = windowMasks::packKept(windowCodes, plan.keep, next);
        windowMasks::writeTagCodes(window, marks, plan, kept);
        i += plan.taken;
    }
    codes = next;
    return i;
}

#else

bool avx2LoopRuns()
{
    return false;
}

std::size_t convertWindowsAvx2(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes)
{
    return convertWindowsPortable(text, i, size, codes);
}

#endif
