#pragma once

// Everything the converter needs from the operating system, behind one narrow
// interface. Exactly one platform file implements it; file names and console
// text are wide strings here and become the system's encoding only inside it.

#include <cstddef>
#include <cstdint>
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
// The terminal a live screen plays on: a clock, its size, its keys, and its
// modes given back however the run ends.

/// Microseconds on a clock that only moves forward.
std::uint64_t monotonicMicroseconds();

/// Sleeps until monotonicMicroseconds() reaches `deadline`; a signal that asks
/// the run to end may cut it short.
void sleepUntil(std::uint64_t deadline);

/// Whether the open `file` is a terminal (a console on Windows).
bool isTerminal(int file);

/// The size of the terminal `file`, in cells; 80 x 25 when the system does not say.
void terminalSize(int file, unsigned& columns, unsigned& rows);

/// What ended a wait for the terminal.
enum class TerminalEvent { deadline, keys, resized, ended, stopped, continued };

/// Starts playing on the terminal `output`: keys come from the controlling
/// terminal (the console), one at a time and not echoed, and the signals that
/// end or stop the run are caught for waitForTerminal. `restore` is written to
/// `output` if the run must end at once. Returns whether keys can be read.
bool startTerminal(int output, std::string_view restore);

/// Waits until `deadline` (for ever when `forever`), a key, a size change or
/// a caught signal. Keys read are appended to `keys`.
TerminalEvent waitForTerminal(std::uint64_t deadline, bool forever, std::string& keys);

/// Gives the terminal its own input mode back and stops the process, as
/// Ctrl-Z asks; once continued, takes keys again.
void stopTerminal();

/// Whether a signal that asks the run to end may end it at once, giving the
/// terminal back first, while a read of the input may block.
void setTerminalInterruptible(bool interruptible);

/// Gives the terminal its own input mode back and the signals their handling
/// as before. Returns the signal that asked the run to end, or 0.
int endTerminal();

/// Ends the process by `signal` as its default action would (on Windows, as
/// Ctrl+C ends a console program).
[[noreturn]] void endBySignal(int signal);

}  // namespace platform
