#include "process.h"

#include "utf8.h"

#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <system_error>

#include <windows.h>

namespace {

[[noreturn]] void failed(const char* what)
{
    throw std::system_error(static_cast<int>(GetLastError()), std::system_category(), what);
}

// Quotes `argument` so that the runtime's splitting of the command line gives
// it back unchanged: backslashes double only where a quote follows them.
std::wstring quoted(const std::wstring& argument)
{
    if (!argument.empty() && argument.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return argument;
    std::wstring result = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t ch : argument) {
        if (ch == L'\\') {
            ++backslashes;
            continue;
        }
        result.append(ch == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        result += ch;
    }
    result.append(backslashes * 2, L'\\');
    result += L'"';
    return result;
}

struct Drain {
    HANDLE pipe;
    std::string bytes;
};

// Reads a pipe to its end; standard error drains on its own thread so that
// neither pipe can fill up and stall the child.
DWORD WINAPI drain(void* context)
{
    auto& job = *static_cast<Drain*>(context);
    char chunk[4096];
    DWORD count = 0;
    while (ReadFile(job.pipe, chunk, sizeof chunk, &count, nullptr) && count > 0)
        job.bytes.append(chunk, count);
    return 0;
}

class Handle {
public:
    explicit Handle(HANDLE handle = nullptr) : m_handle(handle) {}
    ~Handle() { close(); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE* out() { return &m_handle; }
    HANDLE get() const { return m_handle; }
    void close()
    {
        if (m_handle != nullptr && m_handle != INVALID_HANDLE_VALUE)
            CloseHandle(m_handle);
        m_handle = nullptr;
    }

private:
    HANDLE m_handle;
};

// A pipe whose write end the child inherits and whose read end it does not.
void makePipe(Handle& read, Handle& write)
{
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    if (!CreatePipe(read.out(), write.out(), &inherit, 0))
        failed("CreatePipe");
    SetHandleInformation(read.get(), HANDLE_FLAG_INHERIT, 0);
}

}  // namespace

ProcessResult runProcess(const std::filesystem::path& program, const std::vector<std::string>& arguments,
                         const std::filesystem::path& directory, const std::filesystem::path& input)
{
    // The arguments are UTF-8 here; Windows passes wide strings.
    std::wstring commandLine = quoted(program.wstring());
    for (const auto& argument : arguments)
        commandLine += L" " + quoted(wideFromBytes(argument));

    Handle outRead, outWrite, errRead, errWrite;
    makePipe(outRead, outWrite);
    makePipe(errRead, errWrite);
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    Handle standardInput(CreateFileW(input.empty() ? L"NUL" : input.wstring().c_str(), GENERIC_READ,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING, 0, nullptr));

    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = standardInput.get();
    startup.hStdOutput = outWrite.get();
    startup.hStdError = errWrite.get();
    PROCESS_INFORMATION child{};
    if (!CreateProcessW(program.wstring().c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                        directory.wstring().c_str(), &startup, &child))
        failed("CreateProcessW");
    Handle process(child.hProcess);
    Handle thread(child.hThread);
    // Only the child holds the write ends now, so the reads end when it does.
    outWrite.close();
    errWrite.close();

    Drain errors{errRead.get(), {}};
    Handle drainer(CreateThread(nullptr, 0, drain, &errors, 0, nullptr));
    if (drainer.get() == nullptr)
        failed("CreateThread");
    Drain output{outRead.get(), {}};
    drain(&output);
    WaitForSingleObject(drainer.get(), INFINITE);
    WaitForSingleObject(process.get(), INFINITE);

    ProcessResult result;
    DWORD status = 0;
    if (GetExitCodeProcess(process.get(), &status))
        result.status = static_cast<int>(status);
    result.output = std::move(output.bytes);
    result.errors = std::move(errors.bytes);
    return result;
}

ProcessResult runKalmora(const std::vector<std::string>& arguments, const std::filesystem::path& directory,
                         const std::filesystem::path& input)
{
    std::wstring self(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size()));
        if (length == 0)
            failed("GetModuleFileNameW");
        if (length < self.size()) {
            self.resize(length);
            break;
        }
        self.resize(self.size() * 2);
    }
    return runProcess(std::filesystem::path(self).parent_path() / KALMORA_EXECUTABLE_NAME, arguments, directory,
                      input);
}

ScratchFolder::ScratchFolder()
{
    std::random_device seed;
    std::mt19937_64 random(seed() ^ GetCurrentProcessId());
    for (;;) {
        const auto name = "kalmora-test-" + std::to_string(random() % 1000000000);
        m_path = std::filesystem::temp_directory_path() / name;
        if (std::filesystem::create_directory(m_path))
            return;
    }
}
