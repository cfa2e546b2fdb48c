// The terminal a live screen plays on, on POSIX systems: the monotonic
// clock, the window size, keys from the controlling terminal, and its modes
// given back however the run ends.

#include "platform.h"
#include "posix_signals.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <iterator>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace platform {

namespace {

// Everything a signal handler may touch is set up before the handlers are.
constexpr std::size_t maxRestore = 64;
char restoreBytes[maxRestore];
std::size_t restoreLength = 0;
int restoreOutput = -1;
int keyFile = -1;     // the controlling terminal, for keys and modes
termios savedModes{};
bool modesSaved = false;
int wakePipe[2] = {-1, -1};  // a handler writes here, so that a wait wakes at once

volatile std::sig_atomic_t endingSignal = 0;
volatile std::sig_atomic_t stopAsked = 0;
volatile std::sig_atomic_t continuedNow = 0;
volatile std::sig_atomic_t resizedNow = 0;
volatile std::sig_atomic_t interruptible = 0;

constexpr int caughtSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGTSTP, SIGCONT, SIGWINCH};
struct sigaction before[std::size(caughtSignals)];
bool replaced[std::size(caughtSignals)] = {};

void giveModesBack()
{
    if (modesSaved)
        ::tcsetattr(keyFile, TCSANOW, &savedModes);
}

void takeKeys()
{
    if (!modesSaved)
        return;
    termios raw = savedModes;
    // Keys one at a time and unechoed; Ctrl-C and Ctrl-Z still send their signals.
    raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
    raw.c_cc[VMIN] = 1;
    raw.c_cc[VTIME] = 0;
    ::tcsetattr(keyFile, TCSANOW, &raw);
}

[[noreturn]] void dieBy(int signalNumber)
{
    raiseAsByDefault(signalNumber);
    ::_exit(128 + signalNumber);
}

extern "C" void onTerminalSignal(int signalNumber)
{
    const int savedErrno = errno;
    if (signalNumber == SIGTSTP) {
        stopAsked = 1;
    } else if (signalNumber == SIGCONT) {
        continuedNow = 1;
    } else if (signalNumber == SIGWINCH) {
        resizedNow = 1;
    } else {
        endingSignal = signalNumber;
        // A read of the input may block for as long as the writer likes:
        // the terminal is given back here, and the run ends at once.
        if (interruptible != 0) {
            if (restoreOutput >= 0 && ::write(restoreOutput, restoreBytes, restoreLength) < 0) {
                // Nothing more can be done for the terminal.
            }
            giveModesBack();
            dieBy(signalNumber);
        }
    }
    const char wake = 1;
    if (::write(wakePipe[1], &wake, 1) < 0) {
        // The pipe is full: a wake is pending already.
    }
    errno = savedErrno;
}

void catchSignals()
{
    struct sigaction action {};
    action.sa_handler = onTerminalSignal;
    sigfillset(&action.sa_mask);
    action.sa_flags = 0;  // no restart: a wait wakes for the signal
    for (std::size_t i = 0; i < std::size(caughtSignals); ++i) {
        // A signal ignored by whoever started the run stays ignored.
        replaced[i] = ::sigaction(caughtSignals[i], nullptr, &before[i]) == 0 &&
                      ((before[i].sa_flags & SA_SIGINFO) != 0 || before[i].sa_handler != SIG_IGN);
        if (replaced[i])
            ::sigaction(caughtSignals[i], &action, nullptr);
    }
}

void releaseSignals()
{
    for (std::size_t i = 0; i < std::size(caughtSignals); ++i) {
        if (replaced[i])
            ::sigaction(caughtSignals[i], &before[i], nullptr);
        replaced[i] = false;
    }
}

void drainWakes()
{
    char drained[64];
    while (::read(wakePipe[0], drained, sizeof drained) > 0) {
    }
}

}  // namespace

std::uint64_t monotonicMicroseconds()
{
    timespec now {};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1000000 + static_cast<std::uint64_t>(now.tv_nsec) / 1000;
}

void sleepUntil(std::uint64_t deadline)
{
    timespec until {};
    until.tv_sec = static_cast<time_t>(deadline / 1000000);
    until.tv_nsec = static_cast<long>(deadline % 1000000 * 1000);
    while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
    }
}

bool isTerminal(int file)
{
    return ::isatty(file) == 1;
}

void terminalSize(int file, unsigned& columns, unsigned& rows)
{
    winsize size {};
    columns = 80;
    rows = 25;
    if (::ioctl(file, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 && size.ws_row > 0) {
        columns = size.ws_col;
        rows = size.ws_row;
    }
}

bool startTerminal(int output, std::string_view restore)
{
    restoreLength = std::min(restore.size(), maxRestore);
    std::memcpy(restoreBytes, restore.data(), restoreLength);
    restoreOutput = output;
    endingSignal = 0;
    stopAsked = 0;
    continuedNow = 0;
    resizedNow = 0;
    interruptible = 0;
    if (::pipe(wakePipe) == 0) {
        for (const int end : wakePipe) {
            ::fcntl(end, F_SETFL, ::fcntl(end, F_GETFL) | O_NONBLOCK);
            ::fcntl(end, F_SETFD, FD_CLOEXEC);
        }
    }
    // Keys come from the terminal that controls the run, so that they work
    // when the input is a pipe.
    keyFile = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    modesSaved = keyFile >= 0 && ::tcgetattr(keyFile, &savedModes) == 0;
    catchSignals();
    takeKeys();
    return modesSaved;
}

TerminalEvent waitForTerminal(std::uint64_t deadline, bool forever, std::string& keys)
{
    for (;;) {
        if (endingSignal != 0)
            return TerminalEvent::ended;
        if (stopAsked != 0) {
            stopAsked = 0;
            return TerminalEvent::stopped;
        }
        if (continuedNow != 0) {
            // The shell may have set modes of its own while the run was stopped.
            continuedNow = 0;
            takeKeys();
            return TerminalEvent::continued;
        }
        if (resizedNow != 0) {
            resizedNow = 0;
            return TerminalEvent::resized;
        }
        pollfd waits[2] = {{wakePipe[0], POLLIN, 0}, {modesSaved ? keyFile : -1, POLLIN, 0}};
        const std::uint64_t now = monotonicMicroseconds();
        timespec timeout {};
        if (!forever && deadline > now) {
            timeout.tv_sec = static_cast<time_t>((deadline - now) / 1000000);
            timeout.tv_nsec = static_cast<long>((deadline - now) % 1000000 * 1000);
        }
        const int ready = ::ppoll(waits, 2, forever ? nullptr : &timeout, nullptr);
        if (ready < 0 && errno != EINTR)
            return TerminalEvent::ended;
        if (ready > 0 && (waits[0].revents & POLLIN) != 0)
            drainWakes();
        if (ready > 0 && waits[1].revents != 0) {
            char read[64];
            const ssize_t count = ::read(keyFile, read, sizeof read);
            if (count > 0) {
                keys.append(read, static_cast<std::size_t>(count));
                return TerminalEvent::keys;
            }
            // The terminal has gone: nobody is left to press a key.
            if (count == 0 || (errno != EINTR && errno != EAGAIN))
                return TerminalEvent::ended;
        }
        if (ready == 0)
            return TerminalEvent::deadline;
    }
}

void stopTerminal()
{
    giveModesBack();
    // Stopped as Ctrl-Z would stop it without us; runs on from here once continued.
    struct sigaction own {};
    ::sigaction(SIGTSTP, nullptr, &own);
    raiseAsByDefault(SIGTSTP);
    ::sigaction(SIGTSTP, &own, nullptr);
    continuedNow = 0;
    takeKeys();
}

void setTerminalInterruptible(bool on)
{
    interruptible = on ? 1 : 0;
}

int endTerminal()
{
    interruptible = 0;
    giveModesBack();
    releaseSignals();
    modesSaved = false;
    if (keyFile >= 0)
        ::close(keyFile);
    keyFile = -1;
    for (int& end : wakePipe) {
        if (end >= 0)
            ::close(end);
        end = -1;
    }
    restoreOutput = -1;
    return endingSignal;
}

void endBySignal(int signalNumber)
{
    dieBy(signalNumber);
}

}  // namespace platform
