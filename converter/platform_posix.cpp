#include "platform.h"

#include "debug_report.h"
#include "utf8.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// What a refused sharing request reports, so that a busy file reads the same
// as it does where the system enforces share modes itself.
constexpr unsigned sharingViolation = EACCES;

void writeAllTo(int file, const std::string& bytes)
{
    unsigned ignored = 0;
    writeFile(file, bytes.data(), bytes.size(), ignored);
}

// Takes an advisory lock without waiting. Returns 0, or the error number to
// report: a lock held elsewhere is a sharing violation, and a file system that
// cannot lock at all (some network and special files) does not stop the run.
unsigned lockWithoutWaiting(int file, int operation)
{
    if (::flock(file, operation | LOCK_NB) == 0)
        return 0;
    if (errno == EWOULDBLOCK)
        return sharingViolation;
    return 0;
}

}  // namespace

void writeConsole(std::wstring_view text)
{
    writeAllTo(STDOUT_FILENO, bytesFromWide(text));
}

int openInput(const wchar_t* name, unsigned& error)
{
    const std::string path = bytesFromWide(name);
    const int file = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (file < 0) {
        error = static_cast<unsigned>(errno);
        return -1;
    }
    // A folder opens for reading here but can never be read as a file.
    struct stat status {};
    if (::fstat(file, &status) != 0 || S_ISDIR(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? EISDIR : static_cast<unsigned>(errno);
        ::close(file);
        return -1;
    }
    if (const unsigned refused = lockWithoutWaiting(file, LOCK_SH)) {
        ::close(file);
        error = refused;
        return -1;
    }
    return file;
}

int openOutput(const wchar_t* name, int input, unsigned& error)
{
    const std::string path = bytesFromWide(name);
    // Open without truncating, so that the checks below run before any byte of
    // an existing file is lost. O_EXCL tells us whether we made the file.
    bool created = false;
    int file = ::open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (file < 0 && errno == ENOENT) {
        file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        created = file >= 0;
        // EEXIST: a dangling symbolic link, or a file made meanwhile.
        if (file < 0 && errno == EEXIST)
            file = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY, 0666);
    }
    if (file < 0) {
        error = static_cast<unsigned>(errno);
        return -1;
    }

    struct stat outputStatus {};
    struct stat inputStatus {};
    unsigned refused = 0;
    if (::fstat(file, &outputStatus) != 0 || ::fstat(input, &inputStatus) != 0)
        refused = static_cast<unsigned>(errno);
    else if (outputStatus.st_dev == inputStatus.st_dev && outputStatus.st_ino == inputStatus.st_ino)
        refused = sharingViolation;  // the same file by another name or link
    else
        refused = lockWithoutWaiting(file, LOCK_EX);
    // A file made just now is empty already. Truncating it anyway would cost
    // a lot on ext4, which flushes a file truncated to zero when it is closed.
    if (refused == 0 && !created && S_ISREG(outputStatus.st_mode) && ::ftruncate(file, 0) != 0)
        refused = static_cast<unsigned>(errno);
    if (refused != 0) {
        ::close(file);
        if (created)
            ::unlink(path.c_str());
        error = refused;
        return -1;
    }
    return file;
}

std::ptrdiff_t readFile(int file, void* data, std::size_t size, unsigned& error)
{
    for (;;) {
        const ssize_t count = ::read(file, data, size);
        if (count >= 0)
            return count;
        if (errno != EINTR) {
            error = static_cast<unsigned>(errno);
            return -1;
        }
    }
}

bool writeFile(int file, const void* data, std::size_t size, unsigned& error)
{
    const char* next = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t count = ::write(file, next, size);
        if (count < 0) {
            if (errno == EINTR)
                continue;
            error = static_cast<unsigned>(errno);
            return false;
        }
        next += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

bool closeFile(int file, unsigned& error)
{
    if (::close(file) == 0)
        return true;
    error = static_cast<unsigned>(errno);
    return false;
}

}  // namespace platform

void reportDebugAssertion(const char* expression, const char* file, int line)
{
    const std::string report = describeAssertion(expression, file, line);
    platform::writeAllTo(STDERR_FILENO, report);
}
