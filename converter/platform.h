#pragma once

// Everything the converter needs from the operating system, behind one narrow
// interface. Exactly one platform file implements it; file names and console
// text are wide strings here and become the system's encoding only inside it.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Readies the process before anything else: standard streams that were closed
/// get the null device, and an interrupted run removes what it made.
void startProcess();

/// Writes `text` to standard output (or standard error, once chosen for
/// messages), exactly, as UTF-8.
void writeConsole(std::wstring_view text);

/// Whether the output `name` is this process's standard output: "-", or a
/// system name for its descriptor, whether or not that stream is open.
bool isStandardOutput(const wchar_t* name);

/// Sends everything writeConsole writes from now on to standard error.
void sendMessagesToStandardError();

// "-" names standard input to openInput and standard output to openOutput;
// where the system has names for open descriptors (/dev/stdout, /dev/fd/N),
// those are taken as the descriptor too. Such a stream, if the process had it
// open at start, is read or written as it is, in binary: no hold, no
// replacement, no truncation, no same-file refusal.

/// Opens `name` for binary reading; others may read it but not write it while
/// it is open. Returns a file descriptor, or -1 with the error number in `error`.
int openInput(const wchar_t* name, unsigned& error);

/// Opens `name` for exclusive binary writing, refusing the file that `input`
/// has open. A file is written as a new file that commitOutput puts in its
/// place; devices, pipes and terminals are written directly. Nothing the user
/// had is changed when it fails. Returns a descriptor for writeFile, or -1
/// with the error number in `error`. One output may be open at a time.
int openOutput(const wchar_t* name, int input, unsigned& error);

/// Closes `output` and puts what was written in place of the old contents.
/// Returns false with `error` set when it cannot; the old contents then stay.
bool commitOutput(int output, unsigned& error);

/// Closes `output` and drops what was written, keeping the old contents (or
/// no file, where there was none).
void discardOutput(int output);

/// Reads up to `size` bytes. Returns the count, 0 at the end, or -1 with `error` set.
std::ptrdiff_t readFile(int file, void* data, std::size_t size, unsigned& error);

/// Writes all `size` bytes. Returns false with `error` set when it cannot.
bool writeFile(int file, const void* data, std::size_t size, unsigned& error);

/// Closes `file`. Returns false with `error` set when the close reports a failure.
bool closeFile(int file, unsigned& error);

/// Whether `character` ends a folder's name in a path: "/", and also the backslash on Windows.
bool isFolderSeparator(wchar_t character);

/// Whether `name` is an existing folder, symbolic links followed.
bool isFolder(const wchar_t* name);

/// Makes the folder `name` (one level) unless there is one. Returns false with
/// `error` set: ENOTDIR when something else has the name.
bool makeFolder(const wchar_t* name, unsigned& error);

/// Puts the names of the regular files directly in the folder `name` into
/// `names`, in the byte order of their names. Returns false with `error` set.
bool listFiles(const wchar_t* name, std::vector<std::wstring>& names, unsigned& error);

}  // namespace platform
