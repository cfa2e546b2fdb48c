#include "platform.h"

#include "debug_report.h"
#include "posix_signals.h"
#include "utf8.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <string>
#include <string_view>

#include <fcntl.h>
#include <pthread.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

// What a refused sharing request reports, so that a busy file reads the same
// as it does where the system enforces share modes itself.
constexpr unsigned sharingViolation = EACCES;

// A file this run made under a name in the output's folder, for removal when
// the run fails or is stopped. A signal handler may not build strings, so the
// name is prepared beforehand, together with the file it must still name:
// a file another program has put under the name meanwhile is left alone.
constexpr std::size_t maxNameBytes = 4096;
struct MadeFile {
    volatile std::sig_atomic_t armed = 0;
    dev_t device = 0;
    ino_t inode = 0;
    char name[maxNameBytes] = {};
};
MadeFile hiddenFile;       // the new file, while it has a hidden name
MadeFile placeholderFile;  // the empty file that holds a new output's name
volatile std::sig_atomic_t outputFolder = -1;

// The output of the run between openOutput and commitOutput or discardOutput.
struct Output {
    int file = -1;          // what the conversion writes to
    int held = -1;          // the output itself, held for the run; -1 when written directly
    int folder = -1;        // the output's folder, opened once, while a new file is made in it
    bool created = false;   // `held` is an empty placeholder this run made
    bool anonymous = false; // `file` has no name yet
    bool setMode = false;   // `file` replaces a file and takes on its mode at the end
    mode_t mode = 0;        // that mode's permission bits
    std::string name;       // the output's name in `folder`, symbolic links followed
    std::string temporary;  // the new file's hidden name in `folder`, once it has one
};
Output pending;

// Where messages go: standard output, unless the data goes there.
int messageStream = STDOUT_FILENO;

void writeAllTo(int file, const std::string& bytes)
{
    unsigned ignored = 0;
    writeFile(file, bytes.data(), bytes.size(), ignored);
}

bool isSameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Tells the handler about `made` under `name` before the name can show it.
bool arm(MadeFile& made, const std::string& name, const struct stat& status)
{
    if (name.size() >= maxNameBytes)
        return false;
    made.armed = 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    name.copy(made.name, name.size());
    made.name[name.size()] = '\0';
    made.device = status.st_dev;
    made.inode = status.st_ino;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    made.armed = 1;
    return true;
}

// Removes the name of `made` if it still names that very file; safe in a
// signal handler.
void removeIfOurs(MadeFile& made)
{
    struct stat now {};
    if (made.armed != 0 && ::fstatat(outputFolder, made.name, &now, AT_SYMLINK_NOFOLLOW) == 0 &&
        now.st_dev == made.device && now.st_ino == made.inode)
        ::unlinkat(outputFolder, made.name, 0);
    made.armed = 0;
}

extern "C" void removeOwnFilesAndDie(int signalNumber)
{
    removeIfOurs(hiddenFile);
    removeIfOurs(placeholderFile);
    // Ends the process by the same signal, so whoever started it sees which.
    raiseAsByDefault(signalNumber);
}

// Calls `use` with every signal whose default action ends the process and
// that a handler can catch. SIGPIPE and SIGXFSZ are left out: they are ignored,
// so that they end the run as a failed write.
template <typename Use>
void forEachEndingSignal(Use use)
{
    for (const int signalNumber : {SIGHUP, SIGINT, SIGQUIT, SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGUSR1,
                                   SIGSEGV, SIGUSR2, SIGALRM, SIGTERM, SIGXCPU, SIGVTALRM, SIGPROF, SIGSYS})
        use(signalNumber);
#ifdef SIGPOLL
    use(SIGPOLL);
#endif
#ifdef SIGPWR
    use(SIGPWR);
#endif
#ifdef SIGSTKFLT
    use(SIGSTKFLT);
#endif
#ifdef SIGRTMIN
    for (int signalNumber = SIGRTMIN; signalNumber <= SIGRTMAX; ++signalNumber)
        use(signalNumber);
#endif
}

// Keeps signals away while a name changes hands, so the handler never sees
// a record that is half written or out of date.
class SignalsHeld {
public:
    SignalsHeld()
    {
        sigset_t all;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &m_before);
    }
    ~SignalsHeld() { ::pthread_sigmask(SIG_SETMASK, &m_before, nullptr); }
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

unsigned lastError()
{
    return static_cast<unsigned>(errno);
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
            error = size < 0 ? lastError() : ENAMETOOLONG;
            return false;
        }
        link.resize(static_cast<std::size_t>(size));
        target = link.front() == '/' ? link : folderOf(target) + link;
    }
}

// Opens the folder of `target` for the steps that follow, and finds the name
// in it. Returns -1 with `error` set.
int openFolder(const std::string& target, std::string& name, unsigned& error)
{
    const std::string folder = folderOf(target);
    name = target.substr(folder.size());
    if (name.empty()) {
        error = target.empty() ? ENOENT : EISDIR;  // a name that ends in "/" names a folder
        return -1;
    }
#ifdef O_PATH
    constexpr int access = O_PATH;  // needs no right to list the folder
#else
    constexpr int access = O_RDONLY;
#endif
    const int file = ::open(folder.empty() ? "." : folder.c_str(), access | O_DIRECTORY | O_CLOEXEC);
    if (file < 0)
        error = lastError();
    return file;
}

std::string procPath(int file)
{
    return "/proc/self/fd/" + std::to_string(file);
}

// A hidden name beside `name` that no other run picks at the same time.
std::string hiddenNameBeside(const std::string& name)
{
    static unsigned long counter = 0;
    timespec now {};
    ::clock_gettime(CLOCK_REALTIME, &now);
    unsigned long mix = static_cast<unsigned long>(now.tv_nsec) ^ (static_cast<unsigned long>(::getpid()) << 20) ^
                        (++counter * 0x9e3779b97f4a7c15UL);
    std::string suffix;
    for (int i = 0; i < 8; ++i, mix /= 36)
        suffix += "0123456789abcdefghijklmnopqrstuvwxyz"[mix % 36];
    // Appended piece by piece: GCC 12 warns wrongly about "." + a temporary.
    std::string hidden = ".";
    hidden.append(name, 0, 200).append(".kalmora-").append(suffix);
    return hidden;
}

// Gives a file a hidden unique name in the output's folder, either by making
// it there with `mode` (`file` is -1) or by linking the unnamed `file` there.
// Returns the descriptor of the file made, `file` itself, or -1 with `error` set.
int nameBeside(Output& out, int file, mode_t mode, unsigned& error)
{
    struct stat status {};
    if (file >= 0 && ::fstat(file, &status) != 0) {
        error = lastError();
        return -1;
    }
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string name = hiddenNameBeside(out.name);
        const SignalsHeld signalsHeld;
        int made = file;
        if (file >= 0) {
            arm(hiddenFile, name, status);
            if (::linkat(AT_FDCWD, procPath(file).c_str(), out.folder, name.c_str(), AT_SYMLINK_FOLLOW) != 0)
                made = -1;
        } else {
            made = ::openat(out.folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, mode);
            if (made >= 0 && ::fstat(made, &status) != 0) {
                error = lastError();
                ::unlinkat(out.folder, name.c_str(), 0);
                ::close(made);
                return -1;
            }
            if (made >= 0)
                arm(hiddenFile, name, status);
        }
        if (made >= 0) {
            out.temporary = name;
            return made;
        }
        error = lastError();
        hiddenFile.armed = 0;
        if (error != EEXIST)
            return -1;
    }
    return -1;
}

// An unnamed file in the output's folder with `mode`, where the system can
// make one and name it later through /proc; -1 where it cannot.
int makeUnnamed(int folder, mode_t mode)
{
#ifdef O_TMPFILE
    const int file = ::openat(folder, ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, mode);
    if (file >= 0 && ::access(procPath(file).c_str(), F_OK) == 0)
        return file;
    if (file >= 0)
        ::close(file);
#else
    static_cast<void>(folder);
    static_cast<void>(mode);
#endif
    return -1;
}

// Makes the file the conversion goes into, in the output's folder so that a
// rename can put it in place. Unnamed where the system allows, so that a
// killed run leaves nothing behind. Returns -1 with `error` set.
int makeNewFile(Output& out, mode_t mode, unsigned& error)
{
    const int file = makeUnnamed(out.folder, mode);
    out.anonymous = file >= 0;
    return file >= 0 ? file : nameBeside(out, -1, mode, error);
}

constexpr int nameTaken = -2;

// Links the held placeholder `file` (unnamed, or under its hidden name) under
// the output's name, which fails if any file has that name. Returns 0 or the
// error number.
unsigned giveName(const Output& out, int file, bool unnamed)
{
    if (unnamed ? ::linkat(AT_FDCWD, procPath(file).c_str(), out.folder, out.name.c_str(), AT_SYMLINK_FOLLOW) == 0
                : ::linkat(out.folder, out.temporary.c_str(), out.folder, out.name.c_str(), 0) == 0)
        return 0;
#ifdef RENAME_NOREPLACE
    // A file system without hard links may still move a file without replacing.
    if (!unnamed && (errno == EPERM || errno == EOPNOTSUPP || errno == EMLINK) &&
        ::renameat2(out.folder, out.temporary.c_str(), out.folder, out.name.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
#endif
    return lastError();
}

// Where no held file can be named without replacing, the placeholder is made
// under the name itself, and another run may open it before the hold is taken.
int makePlaceholderUnderName(Output& out, unsigned& error)
{
    int file = -1;
    {
        const SignalsHeld signalsHeld;
        file = ::openat(out.folder, out.name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOCTTY, 0666);
        if (file < 0) {
            error = lastError();
            return error == EEXIST ? nameTaken : -1;
        }
        struct stat status {};
        if (::fstat(file, &status) != 0) {
            error = lastError();
            ::unlinkat(out.folder, out.name.c_str(), 0);
            ::close(file);
            return -1;
        }
        arm(placeholderFile, out.name, status);
    }
    // Refused: another run holds it, and it is that run's to remove.
    if ((error = hold(file, true)) != 0) {
        placeholderFile.armed = 0;
        ::close(file);
        return -1;
    }
    return file;
}

// Makes the empty file that holds a new output's name for the run, and holds
// it before it takes the name, so that no other run can take it for an
// existing output: made unnamed (or under a hidden name), held, then linked
// under the name. Returns its descriptor, -1 with `error` set, or `nameTaken`
// when another file has the name by then.
int makePlaceholder(Output& out, unsigned& error)
{
    int file = makeUnnamed(out.folder, 0666);
    const bool unnamed = file >= 0;
    if (!unnamed && (file = nameBeside(out, -1, 0666, error)) < 0)
        return -1;
    struct stat status {};
    error = hold(file, true);
    if (error == 0 && ::fstat(file, &status) != 0)
        error = lastError();
    if (error == 0 && !arm(placeholderFile, out.name, status))
        error = ENAMETOOLONG;
    if (error == 0)
        error = giveName(out, file, unnamed);
    if (error != 0)
        placeholderFile.armed = 0;
    removeIfOurs(hiddenFile);  // its hidden name, if it had one, has done its part
    out.temporary.clear();
    if (error == 0)
        return file;
    ::close(file);
    if (error == EEXIST)
        return nameTaken;
    if (!unnamed && (error == EPERM || error == EOPNOTSUPP || error == EINVAL))
        return makePlaceholderUnderName(out, error);
    return -1;
}

// Removes the files this run made for `out` (those whose names still show
// them) and lets go of the output.
void dropOutput(Output& out)
{
    {
        const SignalsHeld signalsHeld;
        removeIfOurs(hiddenFile);
        removeIfOurs(placeholderFile);
        outputFolder = -1;
    }
    if (out.held >= 0 && out.held != out.file)
        ::close(out.held);
    if (out.folder >= 0)
        ::close(out.folder);
}

Output takePending(int output)
{
    Output out = pending;
    pending = Output();
    if (out.file != output)
        out = Output{};
    out.file = output;
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

// Gives the finished new file the replaced file's mode, now that writing can
// no longer clear its set-user-ID and set-group-ID bits. A failure counts only
// when the bits are not already right.
bool applyMode(const Output& out, unsigned& error)
{
    if (!out.setMode || ::fchmod(out.file, out.mode) == 0)
        return true;
    error = lastError();
    struct stat status {};
    return ::fstat(out.file, &status) == 0 && (status.st_mode & 07777) == out.mode;
}

// Opens the existing file `out.name` for the run. Returns its descriptor and
// `status`, -1 with `error` set, or `nameTaken` when the name changed meanwhile.
int openExisting(Output& out, int file, int input, struct stat& status, unsigned& error)
{
    if (::fstat(file, &status) != 0) {
        error = lastError();
        ::close(file);
        return -1;
    }
    if (!S_ISREG(status.st_mode))
        return file;
    // Never remove or empty a file we do not hold.
    struct stat inputStatus {};
    if (::fstat(input, &inputStatus) != 0)
        error = lastError();
    else if (isSameFile(status, inputStatus))
        error = sharingViolation;  // the same file by another name or link
    else
        error = hold(file, true);
    if (error != 0) {
        ::close(file);
        return -1;
    }
    // A run that finished meanwhile may have put a new file under the name;
    // the one we hold then is no longer the output.
    struct stat now {};
    if (::fstatat(out.folder, out.name.c_str(), &now, 0) != 0 || !isSameFile(now, status)) {
        ::close(file);
        return nameTaken;
    }
    return file;
}

}  // namespace

void startProcess()
{
    for (int stream = 0; stream <= 2; ++stream)
        closedAtStart[stream] = ::fcntl(stream, F_GETFD) < 0 && errno == EBADF;
    // A closed standard stream would give its number to the next file opened,
    // and messages meant for the console would land in that file. Without a
    // null device, the root folder, which takes no writes, fills the gap: the
    // lowest free number, as the streams below are open or filled by then.
    for (int stream = 0; stream <= 2; ++stream) {
        if (closedAtStart[stream] && ::open("/dev/null", O_RDWR) < 0 && ::open("/", O_RDONLY | O_DIRECTORY) < 0)
            break;
    }
    // A reader that goes away, or a file-size limit, must end the run as a
    // failed write with its message and exit status 1, not as a silent death.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
    struct sigaction action {};
    action.sa_handler = removeOwnFilesAndDie;
    sigfillset(&action.sa_mask);
    // One call a signal: the handler goes in, and comes out again where the
    // signal had another action. Signals wait meanwhile, so none finds ours
    // where it should not be; one ignored that came meanwhile is dropped as
    // its action goes back.
    const SignalsHeld signalsHeld;
    forEachEndingSignal([&action](int signalNumber) {
        struct sigaction before {};
        // A signal ignored by whoever started us (nohup) stays ignored, and
        // one that something loaded before us handles stays with it.
        if (::sigaction(signalNumber, &action, &before) == 0 &&
            ((before.sa_flags & SA_SIGINFO) != 0 || before.sa_handler != SIG_DFL))
            ::sigaction(signalNumber, &before, nullptr);
    });
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
        error = lastError();
        return -1;
    }
    // A folder opens for reading here but can never be read as a file.
    struct stat status {};
    if (::fstat(file, &status) != 0 || S_ISDIR(status.st_mode)) {
        error = S_ISDIR(status.st_mode) ? EISDIR : lastError();
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
    Output out;
    std::string target;
    if (!followLinks(path, target, error))
        return -1;
    // Every later step works in this folder, even if it is renamed meanwhile.
    out.folder = openFolder(target, out.name, error);
    if (out.folder < 0)
        return -1;
    outputFolder = out.folder;
    // Another run may make, replace or remove the file between any two steps
    // here; every such change sends us round again.
    for (int attempt = 0; attempt < 16; ++attempt) {
        // Open without truncating: an existing file keeps every byte until a
        // complete conversion replaces it.
        int file = ::openat(out.folder, out.name.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
        struct stat status {};
        if (file < 0 && errno == ENOENT) {
            file = makePlaceholder(out, error);
            out.created = file >= 0;
        } else if (file < 0) {
            error = lastError();
        } else {
            file = openExisting(out, file, input, status, error);
        }
        if (file == nameTaken)
            continue;
        if (file < 0) {
            dropOutput(out);
            return -1;
        }
        // Devices, pipes, sockets and terminals are written directly.
        if (!out.created && !S_ISREG(status.st_mode)) {
            dropOutput(out);
            pending = Output{};
            pending.file = file;
            return file;
        }
        out.held = file;
        const mode_t mode = out.created ? 0666 : status.st_mode & 0777;
        out.file = makeNewFile(out, mode, error);
        if (out.file < 0 && (error == EACCES || error == EPERM) && !out.created) {
            // The folder takes no new file, though the file may be written:
            // write in place, as the only way left.
            out.file = file;
            dropOutput(out);
            if (::ftruncate(file, 0) != 0) {
                error = lastError();
                ::close(file);
                return -1;
            }
            pending = Output{};
            pending.file = pending.held = file;
            return file;
        }
        if (out.file < 0) {
            dropOutput(out);
            return -1;
        }
        if (!out.created) {
            // The new file takes the old one's place, so it takes on its owner
            // and group as far as this process may set them, and its mode once
            // written.
            if (::fchown(out.file, status.st_uid, status.st_gid) != 0 &&
                ::fchown(out.file, static_cast<uid_t>(-1), status.st_gid) != 0) {
                // Not permitted: the new file keeps this process's owner and group.
            }
            out.setMode = true;
            out.mode = status.st_mode & 07777;
        }
        pending = out;
        return out.file;
    }
    error = sharingViolation;
    dropOutput(out);
    return -1;
}

// Moves the written file, under its hidden name, to the output's name. A new
// output's name holds this run's empty placeholder: the two swap names and
// the placeholder goes. Renaming over it instead would make ext4 start
// writing the new file to disk at once, as it does to keep a replaced file's
// data safe from a crash, and the run would wait for that although the file
// replaced is empty; writing a few MiB then took about a tenth longer. An
// existing output is replaced by the rename, with that safety. Signals are
// held.
bool putInPlace(const Output& out)
{
#ifdef RENAME_EXCHANGE
    if (out.created &&
        ::renameat2(out.folder, out.temporary.c_str(), out.folder, out.name.c_str(), RENAME_EXCHANGE) == 0) {
        // What fails here leaves an empty file under the hidden name, no more.
        ::unlinkat(out.folder, out.temporary.c_str(), 0);
        return true;
    }
#endif
    return ::renameat(out.folder, out.temporary.c_str(), out.folder, out.name.c_str()) == 0;
}

bool commitOutput(int output, unsigned& error)
{
    Output out = takePending(output);
    if (out.held < 0 || out.held == out.file)
        return closeFile(output, error);
    bool done = applyMode(out, error);
    // Closing may report a late write error. It comes before the new file
    // gets a name, so that a run killed meanwhile leaves no copy behind; a
    // second descriptor keeps the unnamed file until then.
    const int kept = out.anonymous ? ::dup(out.file) : -1;
    if (out.anonymous && kept < 0 && done) {
        error = lastError();
        done = false;
    }
    unsigned closeError = 0;
    if (!closeFile(out.file, closeError) && done) {
        error = closeError;
        done = false;
    }
    out.file = -1;
    if (done) {
        const SignalsHeld signalsHeld;
        if (out.anonymous && nameBeside(out, kept, 0, error) < 0) {
            done = false;
        } else if (!putInPlace(out)) {
            error = lastError();
            done = false;
        } else {
            hiddenFile.armed = 0;
            placeholderFile.armed = 0;
        }
    }
    if (kept >= 0)
        ::close(kept);
    dropOutput(out);
    return done;
}

void discardOutput(int output)
{
    Output out = takePending(output);
    ::close(output);
    if (out.held >= 0 && out.held != output)
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

void platform::raiseAsByDefault(int signalNumber)
{
    ::signal(signalNumber, SIG_DFL);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signalNumber);
    ::pthread_sigmask(SIG_UNBLOCK, &only, nullptr);
    ::raise(signalNumber);
}
