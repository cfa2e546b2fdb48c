// Faults on demand for the whole-program tests: preloaded into kalmora with
// LD_PRELOAD and steered by the environment. "Files" are descriptors above 2,
// so the console keeps working.
//   KALMORA_FAULT_LOCK=pass    every lock request succeeds without locking
//   KALMORA_FAULT_LOCK=refuse  every exclusive lock request is refused as held elsewhere
//   KALMORA_FAULT_LOCK=nolock  every lock request fails with ENOLCK (a file system without locks)
//   KALMORA_FAULT_PAUSE=FIFO   the first exclusive lock request waits for a byte from FIFO
//   KALMORA_FAULT_HELD=FIFO    the first exclusive lock granted waits for a byte from FIFO
//   KALMORA_FAULT_LOCKSIGNAL=N the first exclusive lock request raises signal N
//   KALMORA_FAULT_NULL=N       opens of /dev/null fail with error N
//   KALMORA_FAULT_CREATE=N     opens that would make a file fail with error N
//   KALMORA_FAULT_UNNAMED=N    opens of an unnamed file fail with error N
//   KALMORA_FAULT_READ=N       reads of a file after the first fail with error N
//   KALMORA_FAULT_WRITE=N      writes to a file fail with error N
//   KALMORA_FAULT_SIGNAL=N     the first write to a file raises signal N instead
//   KALMORA_FAULT_CLOSE=N      closing a file that was written fails with error N
//                              (as a network file system reports a late write error)
//   KALMORA_FAULT_CLOSESIGNAL=N  closing a file that was written raises signal N first
//   KALMORA_FAULT_RENAME=A>B   the first write to a file first renames A to B (a folder gets an empty successor)
//   KALMORA_FAULT_FSTAT=N, KALMORA_FAULT_FCHMOD=N  fstat of a file open for writing, fchmod, fail with error N
//   KALMORA_FAULT_THREAD=N     starting a thread fails with error N; =-1: the thread reads before the start returns

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <dlfcn.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

template <typename Function>
Function next(const char* name)
{
    return reinterpret_cast<Function>(::dlsym(RTLD_NEXT, name));
}

const char* setting(const char* name)
{
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : nullptr;
}

int number(const char* name)
{
    const char* value = setting(name);
    return value != nullptr ? std::atoi(value) : 0;
}

bool lockIs(const char* mode)
{
    const char* value = setting("KALMORA_FAULT_LOCK");
    return value != nullptr && std::strcmp(value, mode) == 0;
}

// Waits once for the test to let the run go on.
void pauseOnce(const char* name, bool& paused)
{
    const char* fifo = setting(name);
    if (fifo == nullptr || paused)
        return;
    paused = true;
    const int file = next<int (*)(const char*, int, ...)>("open")(fifo, O_RDONLY | O_CLOEXEC);
    char byte = 0;
    if (file >= 0) {
        next<ssize_t (*)(int, void*, size_t)>("read")(file, &byte, 1);
        ::close(file);
    }
}

// Returns -2 to let the real call go ahead, or the faked result.
int fakeLock(bool exclusive)
{
    static bool paused = false;
    static bool signalled = false;
    if (exclusive)
        pauseOnce("KALMORA_FAULT_PAUSE", paused);
    if (exclusive && number("KALMORA_FAULT_LOCKSIGNAL") != 0 && !std::exchange(signalled, true))
        ::raise(number("KALMORA_FAULT_LOCKSIGNAL"));
    if (lockIs("pass"))
        return 0;
    if (lockIs("nolock"))
        return errno = ENOLCK, -1;
    if (exclusive && lockIs("refuse")) {
        errno = EWOULDBLOCK;
        return -1;
    }
    return -2;
}

// Returns true with errno set when the fault `name` is asked for.
bool failing(const char* name)
{
    errno = number(name);
    return errno != 0;
}

int fakeOpen(const char* path, int flags)
{
    const bool unnamed = (flags & O_TMPFILE) == O_TMPFILE;
    int error = unnamed ? number("KALMORA_FAULT_UNNAMED") : 0;
    if (std::strcmp(path, "/dev/null") == 0)
        error = number("KALMORA_FAULT_NULL");
    const int createError = unnamed || (flags & O_CREAT) != 0 ? number("KALMORA_FAULT_CREATE") : 0;
    if (error != 0 || createError != 0) {
        errno = error != 0 ? error : createError;
        return -1;
    }
    return -2;
}

// Descriptors written to since they were opened, for KALMORA_FAULT_CLOSE.
bool written[1024];

void renameOnce()
{
    static bool renamed = false;
    const char* value = setting("KALMORA_FAULT_RENAME");
    const char* arrow = value != nullptr ? std::strchr(value, '>') : nullptr;
    if (arrow == nullptr || std::exchange(renamed, true))
        return;
    const std::string from(value, arrow);
    struct stat status {};
    if (::rename(from.c_str(), arrow + 1) == 0 && ::stat(arrow + 1, &status) == 0 && S_ISDIR(status.st_mode))
        ::mkdir(from.c_str(), 0700);
}

std::atomic<int> readsStarted{0};  // since the last thread started

}  // namespace

extern "C" {

int flock(int file, int operation)
{
    const int faked = fakeLock((operation & LOCK_EX) != 0);
    static bool paused = false;
    const int result = faked != -2 ? faked : next<int (*)(int, int)>("flock")(file, operation);
    if (result == 0 && (operation & LOCK_EX) != 0)
        pauseOnce("KALMORA_FAULT_HELD", paused);  // as granted
    return result;
}

int fcntl(int file, int command, ...)
{
    va_list arguments;
    va_start(arguments, command);
    void* argument = va_arg(arguments, void*);
    va_end(arguments);
    const bool isLock = command == F_SETLK || command == F_SETLKW || command == F_OFD_SETLK || command == F_OFD_SETLKW;
    if (isLock) {
        const int faked = fakeLock(static_cast<struct flock*>(argument)->l_type == F_WRLCK);
        if (faked != -2)
            return faked;
    }
    return next<int (*)(int, int, void*)>("fcntl")(file, command, argument);
}

int open(const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = va_arg(arguments, mode_t);
    va_end(arguments);
    const int faked = fakeOpen(path, flags);
    return faked != -2 ? faked : next<int (*)(const char*, int, ...)>("open")(path, flags, mode);
}

int openat(int folder, const char* path, int flags, ...)
{
    va_list arguments;
    va_start(arguments, flags);
    const mode_t mode = va_arg(arguments, mode_t);
    va_end(arguments);
    const int faked = fakeOpen(path, flags);
    return faked != -2 ? faked : next<int (*)(int, const char*, int, ...)>("openat")(folder, path, flags, mode);
}

int fstat(int file, struct stat* status)
{
    const bool writable = file > 2 && (::fcntl(file, F_GETFL) & O_ACCMODE) != O_RDONLY;
    return writable && failing("KALMORA_FAULT_FSTAT") ? -1 : next<int (*)(int, struct stat*)>("fstat")(file, status);
}

int fchmod(int file, mode_t mode)
{
    return failing("KALMORA_FAULT_FCHMOD") ? -1 : next<int (*)(int, mode_t)>("fchmod")(file, mode);
}

int pthread_create(pthread_t* thread, const pthread_attr_t* attributes, void* (*start)(void*), void* argument)
{
    const int fault = number("KALMORA_FAULT_THREAD");
    readsStarted = 0;
    const int result =
        fault > 0 ? fault : next<decltype(&pthread_create)>("pthread_create")(thread, attributes, start, argument);
    while (result == 0 && fault < 0 && readsStarted == 0)
        ::sched_yield();
    return result;
}

// On 64-bit systems these are the same calls under a second name.
int fcntl64(int file, int command, ...) __attribute__((alias("fcntl")));
int open64(const char* path, int flags, ...) __attribute__((alias("open")));
int openat64(int folder, const char* path, int flags, ...) __attribute__((alias("openat")));

ssize_t read(int file, void* data, size_t size)
{
    static bool readOnce = false;
    readsStarted += file > 2 ? 1 : 0;
    if (file > 2 && number("KALMORA_FAULT_READ") != 0) {
        if (readOnce) {
            errno = number("KALMORA_FAULT_READ");
            return -1;
        }
        readOnce = true;
    }
    return next<ssize_t (*)(int, void*, size_t)>("read")(file, data, size);
}

ssize_t write(int file, const void* data, size_t size)
{
    if (file > 2 && file < 1024)
        written[file] = true;
    if (file > 2)
        renameOnce();
    if (file > 2 && number("KALMORA_FAULT_SIGNAL") != 0)
        ::raise(number("KALMORA_FAULT_SIGNAL"));
    if (file > 2 && number("KALMORA_FAULT_WRITE") != 0) {
        errno = number("KALMORA_FAULT_WRITE");
        return -1;
    }
    return next<ssize_t (*)(int, const void*, size_t)>("write")(file, data, size);
}

int close(int file)
{
    const bool wasWritten = file > 2 && file < 1024 && written[file];
    if (file >= 0 && file < 1024)
        written[file] = false;
    if (wasWritten && number("KALMORA_FAULT_CLOSESIGNAL") != 0)
        ::raise(number("KALMORA_FAULT_CLOSESIGNAL"));
    const int result = next<int (*)(int)>("close")(file);
    if (wasWritten && result == 0 && number("KALMORA_FAULT_CLOSE") != 0) {
        errno = number("KALMORA_FAULT_CLOSE");
        return -1;
    }
    return result;
}

}  // extern "C"
