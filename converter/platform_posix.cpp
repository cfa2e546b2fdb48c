#include "platform.h"

#include "debug_report.h"
#include "utf8.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// What a refused sharing request reports, so that a busy file reads the same
// as it does where the system enforces share modes itself.
constexpr unsigned sharingViolation = EACCES;

// A signal handler may not build strings, so the names it removes are
// prepared here beforehand, with a flag that says whether each one is ours.
constexpr std::size_t maxPathBytes = 8192;
char temporaryName[maxPathBytes];
char placeholderName[maxPathBytes];
volatile std::sig_atomic_t ownsTemporary = 0;
volatile std::sig_atomic_t ownsPlaceholder = 0;

// The output of the run between openOutput and commitOutput or discardOutput.
struct Output {
    int file = -1;          // what the conversion writes to
    int held = -1;          // the output itself, held for the run; -1 when written directly
    bool created = false;   // `held` is an empty placeholder this run made
    bool anonymous = false; // `file` has no name yet
    std::string target;     // the output's path with symbolic links followed
    std::string temporary;  // the new file's hidden name beside the target, once it has one
};
Output pending;

// Where messages go: standard output, unless the data goes there.
int messageStream = STDOUT_FILENO;

void writeAllTo(int file, const std::string& bytes)
{
    unsigned ignored = 0;
    writeFile(file, bytes.data(), bytes.size(), ignored);
}

extern "C" void removeOwnFilesAndDie(int signalNumber)
{
    if (ownsTemporary != 0)
        ::unlink(temporaryName);
    if (ownsPlaceholder != 0)
        ::unlink(placeholderName);
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

bool remember(char (&slot)[maxPathBytes], const std::string& path, volatile std::sig_atomic_t& owns)
{
    if (path.size() >= maxPathBytes)
        return false;
    owns = 0;
    path.copy(slot, path.size());
    slot[path.size()] = '\0';
    owns = 1;
    return true;
}

// Keeps the termination signals away while a name changes hands, so the
// handler never removes a finished output or misses a file just made.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t held;
        sigemptyset(&held);
        for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP})
            sigaddset(&held, signalNumber);
        ::sigprocmask(SIG_BLOCK, &held, &m_before);
    }
    ~SignalsHeld() { ::sigprocmask(SIG_SETMASK, &m_before, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;

private:
    sigset_t m_before;
};

// Takes both kinds of advisory lock without waiting, since programs use one
// or the other: flock, and a record lock over the whole file. Returns 0, or
// the error number to report: a lock held elsewhere is a sharing violation,
// and a file system that cannot lock at all does not stop the run.
unsigned hold(int file, bool exclusive)
{
    if (::flock(file, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0 && errno == EWOULDBLOCK)
        return sharingViolation;
    struct flock range {};
    range.l_type = exclusive ? F_WRLCK : F_RDLCK;
    range.l_whence = SEEK_SET;
#ifdef F_OFD_SETLK
    // A lock of the open file, not of the process, so it conflicts with the
    // input's own lock when the output turns out to be the same file.
    if (::fcntl(file, F_OFD_SETLK, &range) == 0)
        return 0;
    if (errno == EAGAIN || errno == EACCES)
        return sharingViolation;
    if (errno != EINVAL)
        return 0;
#endif
    if (::fcntl(file, F_SETLK, &range) != 0 && (errno == EAGAIN || errno == EACCES))
        return sharingViolation;
    return 0;
}

bool isSameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Whether `path` still names the file `status` describes.
bool stillNamed(const std::string& path, const struct stat& status)
{
    struct stat now {};
    return ::stat(path.c_str(), &now) == 0 && isSameFile(now, status);
}

std::string folderOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Follows symbolic links to the file they end at, so that the link is kept
// and its target replaced. Returns false with `error` set for a loop.
bool followLinks(const std::string& path, std::string& target, unsigned& error)
{
    target = path;
    for (int depth = 0;; ++depth) {
        struct stat status {};
        if (::lstat(target.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return true;
        if (depth == 40) {
            error = ELOOP;
            return false;
        }
        std::string link(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 256) + 1, '\0');
        const ssize_t size = ::readlink(target.c_str(), link.data(), link.size());
        if (size < 0 || static_cast<std::size_t>(size) >= link.size()) {
            error = size < 0 ? static_cast<unsigned>(errno) : ENAMETOOLONG;
            return false;
        }
        link.resize(static_cast<std::size_t>(size));
        target = link.front() == '/' ? link : folderOf(target) + link;
    }
}

// A hidden name beside `target` that no other run picks at the same time.
std::string hiddenNameBeside(const std::string& target)
{
    static unsigned long counter = 0;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    unsigned long mix = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 20) ^
                        (++counter * 0x9e3779b97f4a7c15UL);
    std::string suffix;
    for (int i = 0; i < 8; ++i, mix /= 36)
        suffix += "0123456789abcdefghijklmnopqrstuvwxyz"[mix % 36];
    const std::string base = target.substr(target.rfind('/') + 1).substr(0, 200);
    return folderOf(target) + "." + base + ".kalmora-" + suffix;
}

// Gives `out` a hidden unique name, either by making the file (`file` is -1)
// or by linking the unnamed `file` there. Returns the descriptor of the file
// made, `file` itself, or -1 with `error` set.
int nameBeside(Output& out, int file, unsigned& error)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = hiddenNameBeside(out.target);
        const SignalsHeld signalsHeld;
        if (!remember(temporaryName, name, ownsTemporary)) {
            error = ENAMETOOLONG;
            return -1;
        }
        const int made = file < 0 ? ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666)
                         : ::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(file)).c_str(), AT_FDCWD,
                                    name.c_str(), AT_SYMLINK_FOLLOW) == 0 ? file : -1;
        if (made >= 0) {
            out.temporary = name;
            return made;
        }
        error = static_cast<unsigned>(errno);
        ownsTemporary = 0;
        if (error != EEXIST)
            return -1;
    }
    return -1;
}

// Makes the file the conversion goes into, in the target's own folder so that
// a rename can put it in place. Unnamed where the system allows, so that even
// a killed run leaves nothing behind. Returns -1 with `error` set.
int makeNewFile(Output& out, unsigned& error)
{
#ifdef O_TMPFILE
    const std::string folder = folderOf(out.target);
    const int file = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (file >= 0) {
        // Naming it later goes through /proc; without that, use a named file.
        if (::access(("/proc/self/fd/" + std::to_string(file)).c_str(), F_OK) == 0) {
            out.anonymous = true;
            return file;
        }
        ::close(file);
    }
#endif
    return nameBeside(out, -1, error);
}

// The new file takes the place of the old one, so it takes on its owner,
// group and permission bits as far as this process may set them.
void keepOwnerAndMode(int file, const struct stat& old)
{
    if (::fchown(file, old.st_uid, old.st_gid) != 0 && ::fchown(file, static_cast<uid_t>(-1), old.st_gid) != 0) {
        // Not permitted: the new file keeps this process's owner and group.
    }
    ::fchmod(file, old.st_mode & 07777);
}

// Removes the files this run made for `out` and lets go of the output.
void dropOutput(Output& out)
{
    {
        const SignalsHeld signalsHeld;
        if (!out.temporary.empty())
            ::unlink(out.temporary.c_str());
        ownsTemporary = 0;
        struct stat held {};
        if (out.created && ::fstat(out.held, &held) == 0 && stillNamed(out.target, held))
            ::unlink(out.target.c_str());
        ownsPlaceholder = 0;
    }
    ::close(out.held);
}

Output takePending(int output)
{
    Output out = pending;
    pending = Output();
    if (out.file != output)
        out = Output{output, -1, false, false, {}, {}};
    return out;
}

// The standard streams that were closed when the process started; they hold
// the null device now, but no name may reach them as the user's streams.
bool closedAtStart[3] = {};

// The descriptor number in `text` ("0", "17"), or -1 when it is none: digits
// only, no sign or leading zero, as the system's own descriptor names.
int descriptorNumber(std::string_view text)
{
    if (text.empty() || text.size() > 9 || (text.size() > 1 && text.front() == '0'))
        return -1;
    int number = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9')
            return -1;
        number = number * 10 + (digit - '0');
    }
    return number;
}

// The open descriptor that `path` stands for: "-" is `standard`; /dev/stdin,
// /dev/stdout, /dev/stderr, /dev/fd/N and /proc/self/fd/N (also under the
// process's own number) name a descriptor, as do the user's symbolic links to
// such names. Returns -1 for every other name. The system's links behind
// these names are never read: their text is no file name (a pipe reads back
// as "pipe:[N]", a removed file with " (deleted)" added).
int descriptorNamed(const std::string& path, int standard)
{
    if (path == "-")
        return standard;
    constexpr std::string_view streams[] = {"/dev/stdin", "/dev/stdout", "/dev/stderr"};
    const std::string own = "/proc/" + std::to_string(::getpid()) + "/fd/";
    const std::string_view folders[] = {"/dev/fd/", "/proc/self/fd/", "/proc/thread-self/fd/", own};
    std::string name = path;
    for (int depth = 0; depth < 40; ++depth) {
        for (int number = 0; number <= 2; ++number) {
            if (name == streams[number])
                return number;
        }
        for (const std::string_view folder : folders) {
            if (name.starts_with(folder))
                return descriptorNumber(std::string_view(name).substr(folder.size()));
        }
        struct stat status {};
        if (::lstat(name.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return -1;
        std::string link(static_cast<std::size_t>(status.st_size > 0 ? status.st_size : 256) + 1, '\0');
        const ssize_t size = ::readlink(name.c_str(), link.data(), link.size());
        if (size <= 0 || static_cast<std::size_t>(size) >= link.size())
            return -1;
        link.resize(static_cast<std::size_t>(size));
        name = link.front() == '/' ? link : folderOf(name) + link;
    }
    return -1;
}

// A copy of descriptor `number`, which the process had when it started, for
// reading (`writing` false) or writing. It shares the descriptor's file
// position and flags, so a shell's ">>" still appends, and closing it leaves
// the descriptor open. Returns -1 with `error` set (EBADF for a descriptor
// that is not open, or not open that way).
int copyOfDescriptor(int number, bool writing, unsigned& error)
{
    error = EBADF;
    // Every file this program opens is closed on exec, and no inherited
    // descriptor can be: a name for one of ours is no stream of the user's.
    const int flags = number <= 2 && closedAtStart[number] ? -1 : ::fcntl(number, F_GETFD);
    const int mode = flags < 0 || (flags & FD_CLOEXEC) != 0 ? -1 : ::fcntl(number, F_GETFL);
    if (mode < 0 || (mode & O_ACCMODE) == (writing ? O_RDONLY : O_WRONLY))
        return -1;
    struct stat status {};
    if (!writing && ::fstat(number, &status) == 0 && S_ISDIR(status.st_mode)) {
        error = EISDIR;
        return -1;
    }
    const int copy = ::fcntl(number, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        error = static_cast<unsigned>(errno);
    return copy;
}

}  // namespace

void startProcess()
{
    for (int stream = 0; stream <= 2; ++stream)
        closedAtStart[stream] = ::fcntl(stream, F_GETFD) < 0 && errno == EBADF;
    // A closed standard stream would give its number to the next file opened,
    // and messages meant for the console would land in that file.
    for (int stream = 0; stream <= 2; ++stream) {
        if (::fcntl(stream, F_GETFD) < 0 && errno == EBADF && ::open("/dev/null", O_RDWR) < 0)
            break;
    }
    // A reader that goes away, or a file-size limit, must end the run as a
    // failed write with its message and exit status 1, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = removeOwnFilesAndDie;
    sigemptyset(&action.sa_mask);
    for (const int signalNumber : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction before {};
        // A signal ignored by whoever started us (nohup) stays ignored.
        if (::sigaction(signalNumber, nullptr, &before) == 0 && before.sa_handler != SIG_IGN)
            ::sigaction(signalNumber, &action, nullptr);
    }
}

void writeConsole(std::wstring_view text)
{
    writeAllTo(messageStream, bytesFromWide(text));
}

bool isStandardOutput(const wchar_t* name)
{
    return descriptorNamed(bytesFromWide(name), STDOUT_FILENO) == STDOUT_FILENO;
}

void sendMessagesToStandardError()
{
    messageStream = STDERR_FILENO;
}

int openInput(const wchar_t* name, unsigned& error)
{
    const std::string path = bytesFromWide(name);
    if (const int number = descriptorNamed(path, STDIN_FILENO); number >= 0)
        return copyOfDescriptor(number, false, error);
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
    // Devices, pipes and terminals are read as they come, with no hold.
    if (S_ISREG(status.st_mode)) {
        if (const unsigned refused = hold(file, false)) {
            ::close(file);
            error = refused;
            return -1;
        }
    }
    return file;
}

int openOutput(const wchar_t* name, int input, unsigned& error)
{
    const std::string path = bytesFromWide(name);
    // A descriptor the process was given is written as it is: no hold, no
    // replacement, no truncation, so a shell's ">" and ">>" keep their meaning.
    if (const int number = descriptorNamed(path, STDOUT_FILENO); number >= 0)
        return copyOfDescriptor(number, true, error);
    // Another run may make, replace or remove the file between any two steps
    // here; every such change sends us round again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        Output out;
        if (!followLinks(path, out.target, error))
            return -1;
        // Open without truncating: an existing file keeps every byte until a
        // complete conversion replaces it.
        int file = ::open(out.target.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        if (file < 0 && errno == ENOENT) {
            // An empty placeholder holds the name for the run, as an existing file does.
            file = ::open(out.target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
            out.created = file >= 0;
            if (file < 0 && errno == EEXIST)
                continue;
        }
        if (file < 0) {
            error = static_cast<unsigned>(errno);
            return -1;
        }
        struct stat outputStatus {};
        if (::fstat(file, &outputStatus) != 0) {
            error = static_cast<unsigned>(errno);
            ::close(file);
            return -1;
        }
        // Devices, pipes, sockets and terminals are written directly.
        if (!S_ISREG(outputStatus.st_mode)) {
            pending = Output{file, -1, false, false, out.target, {}};
            return file;
        }
        // Never remove or empty a file we do not hold: when the hold is
        // refused, the placeholder we made belongs to the run that holds it.
        struct stat inputStatus {};
        unsigned refused = 0;
        if (::fstat(input, &inputStatus) != 0)
            refused = static_cast<unsigned>(errno);
        else if (isSameFile(outputStatus, inputStatus))
            refused = sharingViolation;  // the same file by another name or link
        else
            refused = hold(file, true);
        if (refused != 0) {
            ::close(file);
            error = refused;
            return -1;
        }
        // A run that finished meanwhile may have put a new file under the
        // name; the one we hold then is no longer the output.
        if (!stillNamed(out.target, outputStatus)) {
            ::close(file);
            continue;
        }
        out.held = file;
        if (out.created && !remember(placeholderName, out.target, ownsPlaceholder)) {
            error = ENAMETOOLONG;
            dropOutput(out);
            return -1;
        }
        out.file = makeNewFile(out, error);
        if (out.file < 0 && (error == EACCES || error == EPERM) && !out.created) {
            // The folder takes no new file, though the file may be written:
            // write in place, as the only way left.
            out.temporary.clear();
            if (::ftruncate(file, 0) != 0) {
                error = static_cast<unsigned>(errno);
                ::close(file);
                return -1;
            }
            pending = Output{file, file, false, false, out.target, {}};
            return file;
        }
        if (out.file < 0) {
            out.temporary.clear();
            dropOutput(out);
            return -1;
        }
        if (!out.created)
            keepOwnerAndMode(out.file, outputStatus);
        pending = out;
        return out.file;
    }
    error = sharingViolation;
    return -1;
}

bool commitOutput(int output, unsigned& error)
{
    Output out = takePending(output);
    if (out.held < 0 || out.held == out.file)
        return closeFile(output, error);
    bool done = !out.anonymous || nameBeside(out, out.file, error) >= 0;
    if (!closeFile(out.file, error))
        done = false;
    if (done) {
        const SignalsHeld signalsHeld;
        if (::rename(out.temporary.c_str(), out.target.c_str()) == 0) {
            ownsTemporary = 0;
            ownsPlaceholder = 0;
            out.temporary.clear();
            out.created = false;
        } else {
            error = static_cast<unsigned>(errno);
            done = false;
        }
    }
    dropOutput(out);
    return done;
}

void discardOutput(int output)
{
    Output out = takePending(output);
    ::close(output);
    if (out.held >= 0 && out.held != out.file)
        dropOutput(out);
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
