#include "platform.h"

#include "debug_report.h"
#include "utf8.h"

#include <cerrno>
#include <climits>
#include <string>

#include <fcntl.h>
#include <io.h>
#include <share.h>
#include <sys/stat.h>
#include <windows.h>

namespace platform {

namespace {

constexpr int standardOutput = 1;
constexpr int standardError = 2;

// Writes every byte through the runtime's descriptor `file` in binary mode, so
// that a line feed stays one byte and nothing is added to the text.
void writeAllTo(int file, const std::string& bytes)
{
    _setmode(file, _O_BINARY);
    unsigned ignored = 0;
    writeFile(file, bytes.data(), bytes.size(), ignored);
}

// Whether `file` is a console window rather than a file or a pipe.
bool isConsole(int file)
{
    const auto handle = reinterpret_cast<HANDLE>(_get_osfhandle(file));
    DWORD mode = 0;
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

}  // namespace

// The text is written as UTF-8 bytes wherever standard output goes, so a file
// or a pipe receives exactly the bytes the POSIX build writes. A console shows
// those bytes as the right characters only while its output code page is
// UTF-8, so it is switched for the write and then given back its own.
void writeConsole(std::wstring_view text)
{
    const std::string bytes = bytesFromWide(text);
    if (!isConsole(standardOutput)) {
        writeAllTo(standardOutput, bytes);
        return;
    }
    const UINT codePage = GetConsoleOutputCP();
    SetConsoleOutputCP(CP_UTF8);
    writeAllTo(standardOutput, bytes);
    SetConsoleOutputCP(codePage);
}

// Others may go on reading the input, but nobody may write it while it is open.
int openInput(const wchar_t* name, unsigned& error)
{
    int file = -1;
    const errno_t result = _wsopen_s(&file, name, _O_RDONLY | _O_BINARY | _O_NOINHERIT, _SH_DENYWR, 0);
    if (result != 0) {
        error = static_cast<unsigned>(result);
        return -1;
    }
    return file;
}

// The output is held exclusively. The system checks share modes before it
// creates or empties anything, and it checks them per file, not per name: when
// the output is the input, under any name or link, the input's refusal of
// writers fails this open with a sharing violation (EACCES) and the file keeps
// every byte. So `input` needs no comparison of its own here.
int openOutput(const wchar_t* name, [[maybe_unused]] int input, unsigned& error)
{
    int file = -1;
    const errno_t result = _wsopen_s(&file, name, _O_WRONLY | _O_CREAT | _O_TRUNC | _O_BINARY | _O_NOINHERIT,
                                     _SH_DENYRW, _S_IREAD | _S_IWRITE);
    if (result != 0) {
        error = static_cast<unsigned>(result);
        return -1;
    }
    return file;
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
            // A write that moves nothing has no errno of its own: the disk is full.
            error = static_cast<unsigned>(count < 0 ? errno : ENOSPC);
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
