#include "platform.h"

#include "debug_report.h"
#include "utf8.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

namespace platform {

namespace {

constexpr int standardInput = 0;
constexpr int standardOutput = 1;
constexpr int standardError = 2;

// Where messages go: standard output, unless the data goes there.
int messageStream = standardOutput;

// Writes every byte through the runtime's descriptor `file` in binary mode, so
// that a line feed stays one byte and nothing is added to the text.
void writeAllTo(int file, const std::string& bytes)
{
    _setmode(file, _O_BINARY);
    unsigned ignored = 0;
    writeFile(file, bytes.data(), bytes.size(), ignored);
}

// The output of the run between openOutput and commitOutput or discardOutput.
struct Output {
    int file = -1;          // what the conversion writes to
    int held = -1;          // the output itself, held for the run; -1 when written directly
    bool created = false;   // `held` is an empty placeholder this run made
    std::wstring target;    // the output's name
    std::wstring temporary; // the new file beside it
};
Output pending;

HANDLE handleOf(int file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(file));
}

// An error number for a failed call of the system's own file functions.
unsigned errorOfSystem()
{
    const DWORD code = GetLastError();
    if (code == ERROR_ACCESS_DENIED || code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
        return EACCES;
    if (code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL)
        return ENOSPC;
    return EIO;
}

// A name beside `target` that no other run picks at the same time.
std::wstring nameBeside(const std::wstring& target, unsigned attempt)
{
    const std::size_t end = target.find_last_of(L"/\\:");
    const std::wstring folder = end == std::wstring::npos ? std::wstring() : target.substr(0, end + 1);
    const unsigned long long mix = (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                                   GetTickCount64() ^ (attempt * 0x9e3779b97f4a7c15ULL);
    return folder + L".kalmora-" + std::to_wstring(mix % 1000000007ULL) + L".tmp";
}

// Removes the files this run made and lets go of the output.
void dropOutput(Output& out)
{
    if (!out.temporary.empty())
        _wremove(out.temporary.c_str());
    _close(out.held);
    if (out.created)
        _wremove(out.target.c_str());
}

Output takePending(int output)
{
    Output out = pending;
    pending = Output();
    if (out.file != output)
        out = Output{output, -1, false, {}, {}};
    return out;
}

// Whether `file` is a console window rather than a file or a pipe.
bool isConsole(int file)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// A copy of standard stream `stream` in binary mode, so that no line end
// changes and byte 26 does not end the input; closing it leaves the stream
// open. Returns -1 with `error` set (EBADF when the process has no such stream).
int copyOfStream(int stream, unsigned& error)
{
    // A stream the process was started without has no handle, or one that
    // names no file of any type.
    SetLastError(NO_ERROR);
    if (GetFileType(handleOf(stream)) == FILE_TYPE_UNKNOWN && GetLastError() != NO_ERROR) {
        error = EBADF;
        return -1;
    }
    const int copy = _dup(stream);
    if (copy < 0) {
        error = static_cast<unsigned>(errno);
        return -1;
    }
    _setmode(copy, _O_BINARY);
    return copy;
}

}  // namespace

// The text is written as UTF-8 bytes wherever messages go, so a file
// or a pipe receives exactly the bytes the POSIX build writes. A console shows
// those bytes as the right characters only while its output code page is
// UTF-8, so it is switched for the write and then given back its own.
// Windows has no signals to catch for a file left behind, and its runtime
// keeps the standard streams apart from the files a program opens.
void startProcess() {}

void writeConsole(std::wstring_view text)
{
    const std::string bytes = bytesFromWide(text);
    if (!isConsole(messageStream)) {
        writeAllTo(messageStream, bytes);
        return;
    }
    const UINT codePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    writeAllTo(messageStream, bytes);
    SetConsoleOutputCP(codePage);
}

// Windows has no names for open descriptors; "-" is the one.
bool isStandardOutput(const wchar_t* name)
{
    return std::wstring_view(name) == L"-";
}

void sendMessagesToStandardError()
{
    messageStream = standardError;
}

// Others may go on reading the input, but nobody may write it while it is open.
int openInput(const wchar_t* name, unsigned& error)
{
    if (std::wstring_view(name) == L"-")
        return copyOfStream(standardInput, error);
    int file = -1;
    const errno_t result = _wsopen_s(&file, name, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYWR, 0);
    if (result != 0) {
        error = static_cast<unsigned>(result);
        return -1;
    }
    return file;
}

// The output itself is held exclusively for the run, and the conversion goes
// into a new file beside it that replaces it only when complete. The system
// checks share modes per file, not per name: when the output is the input,
// under any name or link, the input's refusal of writers fails this open with
// a sharing violation (EACCES) before anything is written.
int openOutput(const wchar_t* name, [[maybe_unused]] int input, unsigned& error)
{
    if (isStandardOutput(name))
        return copyOfStream(standardOutput, error);
    Output out;
    out.target = name;
    errno_t result = _wsopen_s(&out.held, name, _O_WRONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYRW, 0);
    if (result == ENOENT) {
        // An empty placeholder holds the name for the run, as an existing file does.
        result = _wsopen_s(&out.held, name, _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT, _SH_DENYRW,
                           _S_IREAD | _S_IWRITE);
        out.created = result == 0;
    }
    if (result != 0) {
        error = static_cast<unsigned>(result);
        return -1;
    }
    // Devices (NUL, CON) and pipes are written directly.
    if (GetFileType(handleOf(out.held)) != FILE_TYPE_DISK) {
        pending = Output{out.held, -1, false, out.target, {}};
        return out.held;
    }
    for (unsigned attempt = 0; attempt < 100; ++attempt) {
        const std::wstring temporary = nameBeside(out.target, attempt);
        result = _wsopen_s(&out.file, temporary.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY | _O_NOINHERIT,
                           _SH_DENYRW, _S_IREAD | _S_IWRITE);
        if (result == 0)
            out.temporary = temporary;
        if (result != EEXIST)
            break;
    }
    if (result == EACCES && !out.created) {
        // The folder takes no new file, though the file may be written:
        // write in place, as the only way left.
        if (_chsize_s(out.held, 0) != 0) {
            error = static_cast<unsigned>(errno);
            _close(out.held);
            return -1;
        }
        pending = Output{out.held, out.held, false, out.target, {}};
        return out.held;
    }
    if (result != 0) {
        error = static_cast<unsigned>(result);
        dropOutput(out);
        return -1;
    }
    pending = out;
    return out.file;
}

// The hold ends just before the rename, which an open file would refuse.
// ReplaceFileW keeps the replaced file's attributes and permissions.
bool commitOutput(int output, unsigned& error)
{
    Output out = takePending(output);
    if (out.held < 0 || out.held == out.file)
        return closeFile(output, error);
    bool done = closeFile(out.file, error);
    _close(out.held);
    out.held = -1;
    if (done) {
        const bool replaced = !out.created && ReplaceFileW(out.target.c_str(), out.temporary.c_str(), nullptr,
                                                           REPLACEFILE_IGNORE_MERGE_ERRORS, nullptr, nullptr);
        if (!replaced && !MoveFileExW(out.temporary.c_str(), out.target.c_str(),
                                      MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            error = errorOfSystem();
            done = false;
        }
    }
    if (done)
        return true;
    _wremove(out.temporary.c_str());
    if (out.created)
        _wremove(out.target.c_str());
    return false;
}

void discardOutput(int output)
{
    Output out = takePending(output);
    _close(output);
    if (out.held >= 0 && out.held != out.file)
        dropOutput(out);
}

std::ptrdiff_t readFile(int file, void* data, std::size_t size, unsigned& error)
{
    const int count = _read(file, data, static_cast<unsigned>(size < INT_MAX ? size : INT_MAX));
    if (count < 0) {
        error = static_cast<unsigned>(errno);
        return -1;
    }
    return count;
}

bool writeFile(int file, const void* data, std::size_t size, unsigned& error)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const int count = _write(file, next, static_cast<unsigned>(size < INT_MAX ? size : INT_MAX));
        if (count <= 0) {
            // A write that moves nothing has no errno of its own: the disk is
            // full. A pipe whose reader has gone is EPIPE, as elsewhere; the
            // system says so in three ways, which not every runtime maps.
            const auto code = static_cast<DWORD>(_doserrno);
            const bool readerGone =
                code == ERROR_NO_DATA || code == ERROR_BROKEN_PIPE || code == ERROR_PIPE_NOT_CONNECTED;
            error = static_cast<unsigned>(count == 0 ? ENOSPC : readerGone ? EPIPE : errno);
            return false;
        }
        next += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool closeFile(int file, unsigned& error)
{
    if (_close(file) == 0)
        return true;
    error = static_cast<unsigned>(errno);
    return false;
}

}  // namespace platform

// The runtime's own report function, _CrtDbgReport, exists only in Microsoft's
// debug runtime libraries, which a self-contained mingw-w64 program does not
// link (its headers turn the _ASSERTE family into no-ops). This reports the way
// that function does in file and debugger mode: the text, file and line go to
// an attached debugger and to standard error, and the program carries on. No
// dialog box, so nothing waits for a click.
void reportDebugAssertion(const char* expression, const char* file, int line)
{
    const std::string report = describeAssertion(expression, file, line);
    OutputDebugStringA(report.c_str());
    platform::writeAllTo(platform::standardError, report);
}
