#pragma once

// The loops that convert text to SEQ codes a 64-byte window at a time, one
// per processor family, and the choice among them, made once at start.

#include <cstddef>
#include <cstdint>

/// The window loops. Every one gives the same codes; they differ in the
/// instructions they need.
enum class TextLoop {
    portable,  // any processor, any compiler: 16-byte lanes or plain arrays
    avx2,      // x86-64 with AVX2
    avx512,    // x86-64 with AVX-512 and its byte compress instruction (VBMI2)
};

/// Every loop, for tests and benchmarks that try each in turn.
inline constexpr TextLoop allTextLoops[] = {TextLoop::portable, TextLoop::avx2, TextLoop::avx512};

/// A window loop looks at this many text bytes at once.
inline constexpr std::size_t windowSize = 64;

/// Text a window loop needs from a window's start: the window, the 16-byte
/// key read from a "{" in it, and the whole 16-byte stores that copy codes
/// (which stay within the room, as a block never gives more codes than bytes).
inline constexpr std::size_t windowReach = windowSize + 32;

/// Converts the text at `text` from `i` on a window at a time while at least
/// windowReach bytes are left before `size`, writing codes at `codes` and
/// moving it past them. Returns where it stopped: there, fewer bytes are
/// left, or a tag starts that the window cannot take (it does not close
/// within 64 bytes, or holds a NUL or a line end). It is called only where no
/// tag or CR is open, and stops before a CR whose LF it cannot see.
using WindowLoop = std::size_t (*)(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes);

/// The loop for any processor.
std::size_t convertWindowsPortable(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes);

/// The AVX2 loop; only where avx2LoopRuns() (elsewhere it is the portable one).
std::size_t convertWindowsAvx2(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes);

/// The AVX-512 loop; only where avx512LoopRuns() (elsewhere it is the portable one).
std::size_t convertWindowsAvx512(const char* text, std::size_t i, std::size_t size, std::uint8_t*& codes);

/// Whether this build and processor can run the AVX2 loop.
bool avx2LoopRuns();

/// Whether this build and processor can run the AVX-512 loop.
bool avx512LoopRuns();

/// Whether this build and processor can run `loop`.
bool textLoopRuns(TextLoop loop);

/// The loop text is converted with unless asked otherwise, chosen once.
TextLoop chosenTextLoop();

/// The function that runs `loop`, which must be one this processor runs.
WindowLoop windowLoop(TextLoop loop);

/// The name of `loop`, for test and benchmark output.
const char* textLoopName(TextLoop loop);
