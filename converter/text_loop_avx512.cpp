// The window loop for x86-64 processors with AVX-512 and its byte compress
// instruction (VBMI2): a window is one register, its masks come straight
// from compares, every tag is found at once from the brace masks (see
// text_loop_masks.h), and the codes that stay are packed with one compress
// and stored at once.

#include "text_loop.h"

#if defined(__x86_64__)

#include "text_loop_masks.h"

#include <immintrin.h>

#define KALMORA_AVX512 __attribute__((target("avx512f,avx512bw,avx512vbmi2,bmi,popcnt")))

namespace {

KALMORA_AVX512 inline std::uint64_t equal(__m512i a, char b)
{
    return _mm512_cmpeq_epi8_mask(a, _mm512_set1_epi8(b));
}

// Lanes where `a` is below `b`, both taken as unsigned.
KALMORA_AVX512 inline std::uint64_t below(__m512i a, char b)
{
    return _mm512_cmplt_epu8_mask(a, _mm512_set1_epi8(b));
}

// The code of each byte as a one-character form, with CR and LF both giving
// 13: printable ASCII stands for itself with the cases of the letters
// swapped, and every other byte is no form.
KALMORA_AVX512 inline __m512i plainCodes(__m512i text)
{
    const std::uint64_t same =
        (below(_mm512_sub_epi8(text, _mm512_set1_epi8(' ')), '@' - ' ' + 1) & ~equal(text, '"')) | equal(text, '[') |
        equal(text, ']');
    const std::uint64_t upper = below(_mm512_sub_epi8(text, _mm512_set1_epi8('A')), 26);
    const std::uint64_t lower = below(_mm512_sub_epi8(text, _mm512_set1_epi8('a')), 26);
    const std::uint64_t lineEnd = equal(text, '\r') | equal(text, '\n');
    const __m512i shift = _mm512_set1_epi8(32);
    __m512i codes = _mm512_maskz_mov_epi8(same, text);
    codes = _mm512_mask_add_epi8(codes, upper, text, shift);
    codes = _mm512_mask_sub_epi8(codes, lower, text, shift);
    return _mm512_mask_mov_epi8(codes, lineEnd, _mm512_set1_epi8(13));
}

}  // namespace

bool avx512LoopRuns()
{
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi2") && __builtin_cpu_supports("bmi") &&
           __builtin_cpu_supports("popcnt");
}

KALMORA_AVX512 std::size_t convertWindowsAvx512(const char* text, std::size_t i, std::size_t size,
                                                std::uint8_t*& codes)
{
    std::uint8_t* next = codes;
    while (size - i >= windowReach) {
        const char* window = text + i;
        const __m512i bytes = _mm512_loadu_si512(window);
        const windowMasks::Marks marks = {equal(bytes, '{'), equal(bytes, '}'), equal(bytes, '\0'),
                                          equal(bytes, '\r'), equal(bytes, '\n')};
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
        // All 64 bytes are stored; only the kept ones count. Then the tags'.
        _mm512_storeu_si512(next, _mm512_maskz_compress_epi8(plan.keep, plainCodes(bytes)));
        windowMasks::writeTagCodes(window, marks, plan, next);
        next += std::popcount(plan.keep);
        i += plan.taken;
    }
    codes = next;
    return i;
}

#else

bool avx512LoopRuns()
{
    return false;
}

std::size_t convertWindowsAvx512(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes)
{
    return convertWindowsPortable(text, i, size, codes);
}

#endif
