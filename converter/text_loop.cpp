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
    // The widest loop the processor runs: AVX-512 (F, BW and VBMI2), then AVX2.
    static const TextLoop chosen = avx512LoopRuns() ? TextLoop::avx512
                                   : avx2LoopRuns() ? TextLoop::avx2
                                                    : TextLoop::portable;
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
