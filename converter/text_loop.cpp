// The one place that chooses the window loop, once, from what the processor
// has.

#include "text_loop.h"

bool textLoopRuns(TextLoop loop)
{
    switch (loop) {
    case TextLoop::avx2: return avx2LoopRuns();
    case TextLoop::avx512: return avx512LoopRuns();
    case TextLoop::portable: break;
    }
    return true;
}

TextLoop chosenTextLoop()
{
    // The AVX-512 loop is built, and tested wherever the processor has it,
    // but not chosen: it has not yet run on any processor with those
    // instructions, and a loop nobody has run must not reach users.
    static const TextLoop chosen = avx2LoopRuns() ? TextLoop::avx2 : TextLoop::portable;
    return chosen;
}

WindowLoop windowLoop(TextLoop loop)
{
    switch (loop) {
    case TextLoop::avx2: return convertWindowsAvx2;
    case TextLoop::avx512: return convertWindowsAvx512;
    case TextLoop::portable: break;
    }
    return convertWindowsPortable;
}

const char* textLoopName(TextLoop loop)
{
    switch (loop) {
    case TextLoop::avx2: return "AVX2";
    case TextLoop::avx512: return "AVX-512";
    case TextLoop::portable: break;
    }
    return "portable";
}
