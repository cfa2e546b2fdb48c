#pragma once

// Everything the converter needs from the operating system, behind one narrow
// interface. Exactly one platform file implements it; file names and console
// text are wide strings here and become the system's encoding only inside it.

#include <cstddef>
#include <string_view>

namespace platform {

/// Writes `text` to standard output, exactly, as UTF-8.
void writeConsole(std::wstring_view text);

/// Opens `name` for binary reading; others may read it but not write it while
/// it is open. Returns a file descriptor, or -1 with the error number in `error`.
int openInput(const wchar_t* name, unsigned& error);

/// Opens `name` for exclusive binary writing and empties it, refusing the file
/// that `input` has open; nothing is created or emptied when it fails.
/// Returns a file descriptor, or -1 with the error number in `error`.
int openOutput(const wchar_t* name, int input, unsigned& error);

/// Reads up to `size` bytes. Returns the count, 0 at the end, or -1 with `error` set.
std::ptrdiff_t readFile(int file, void* data, std::size_t size, unsigned& error);

/// Writes all `size` bytes. Returns false with `error` set when it cannot.
bool writeFile(int file, const void* data, std::size_t size, unsigned& error);

/// Closes `file`. Returns false with `error` set when the close reports a failure.
bool closeFile(int file, unsigned& error);

}  // namespace platform
