// The console a live screen plays on, on Windows: the performance counter as
// the clock, the window's size, keys from the console, and the console's
// modes given back however the run ends.

#include "platform.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>

#include <io.h>
#include <windows.h>

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace platform {

namespace {

HANDLE outputHandle = INVALID_HANDLE_VALUE;
HANDLE keyHandle = INVALID_HANDLE_VALUE;  // the console's input, opened for the run
HANDLE wakeEvent = nullptr;               // set by the Ctrl+C handler, so that a wait wakes
DWORD savedOutputMode = 0;
DWORD savedKeyMode = 0;
UINT savedCodePage = 0;
bool outputModeSaved = false;
bool keyModeSaved = false;
std::string restoreBytes;
volatile LONG endingSignal = 0;
volatile LONG interruptible = 0;

HANDLE handleOf(int file)
{
    return reinterpret_cast<HANDLE>(_get_osfhandle(file));
}

void giveModesBack()
{
    if (outputModeSaved) {
        SetConsoleMode(outputHandle, savedOutputMode);
        SetConsoleOutputCP(savedCodePage);
    }
    if (keyModeSaved)
        SetConsoleMode(keyHandle, savedKeyMode);
}

// Runs on a thread of its own. Ctrl+C and Ctrl+Break end the run in good
// order; a closing window gives no time for that, so the console is given
// back here.
BOOL WINAPI onConsoleEvent(DWORD event)
{
    InterlockedExchange(&endingSignal, SIGINT);
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT ||
        InterlockedCompareExchange(&interruptible, 0, 0) != 0) {
        DWORD written = 0;
        WriteFile(outputHandle, restoreBytes.data(), static_cast<DWORD>(restoreBytes.size()), &written, nullptr);
        giveModesBack();
        ExitProcess(STATUS_CONTROL_C_EXIT);
    }
    SetEvent(wakeEvent);
    return TRUE;
}

}  // namespace

std::uint64_t monotonicMicroseconds()
{
    LARGE_INTEGER counter{};
    LARGE_INTEGER frequency{};
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    const auto ticks = static_cast<std::uint64_t>(counter.QuadPart);
    const auto perSecond = static_cast<std::uint64_t>(frequency.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

void sleepUntil(std::uint64_t deadline)
{
    for (std::uint64_t now = monotonicMicroseconds(); now < deadline; now = monotonicMicroseconds())
        Sleep(static_cast<DWORD>((deadline - now + 999) / 1000));
}

bool isTerminal(int file)
{
    DWORD mode = 0;
    const HANDLE handle = handleOf(file);
    return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

void terminalSize(int file, unsigned& columns, unsigned& rows)
{
    columns = 80;
    rows = 25;
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (GetConsoleScreenBufferInfo(handleOf(file), &info) != 0) {
        columns = static_cast<unsigned>(std::max(info.srWindow.Right - info.srWindow.Left + 1, 1));
        rows = static_cast<unsigned>(std::max(info.srWindow.Bottom - info.srWindow.Top + 1, 1));
    }
}

bool startTerminal(int output, std::string_view restore)
{
    restoreBytes = restore;
    endingSignal = 0;
    interruptible = 0;
    outputHandle = handleOf(output);
    // Sequences and UTF-8 are understood only while these modes are on.
    outputModeSaved = GetConsoleMode(outputHandle, &savedOutputMode) != 0;
    if (outputModeSaved) {
        savedCodePage = GetConsoleOutputCP();
        SetConsoleMode(outputHandle, savedOutputMode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        SetConsoleOutputCP(CP_UTF8);
    }
    // Keys come from the console itself, so that they work when the input is a pipe.
    keyHandle = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                            OPEN_EXISTING, 0, nullptr);
    keyModeSaved = keyHandle != INVALID_HANDLE_VALUE && GetConsoleMode(keyHandle, &savedKeyMode) != 0;
    if (keyModeSaved)
        SetConsoleMode(keyHandle, ENABLE_PROCESSED_INPUT | ENABLE_WINDOW_INPUT);
    wakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
    return keyModeSaved;
}

TerminalEvent waitForTerminal(std::uint64_t deadline, bool forever, std::string& keys)
{
    for (;;) {
        if (InterlockedCompareExchange(&endingSignal, 0, 0) != 0)
            return TerminalEvent::ended;
        const std::uint64_t now = monotonicMicroseconds();
        const DWORD timeout = forever ? INFINITE : deadline > now ? static_cast<DWORD>((deadline - now + 999) / 1000) : 0;
        HANDLE waits[2] = {wakeEvent, keyHandle};
        const DWORD count = keyModeSaved ? 2 : 1;
        const DWORD woken = WaitForMultipleObjects(count, waits, FALSE, timeout);
        if (woken == WAIT_TIMEOUT)
            return TerminalEvent::deadline;
        if (woken != WAIT_OBJECT_0 + 1)
            continue;
        INPUT_RECORD records[32];
        DWORD read = 0;
        if (ReadConsoleInputW(keyHandle, records, 32, &read) == 0)
            return TerminalEvent::ended;
        bool resized = false;
        for (DWORD i = 0; i < read; ++i) {
            if (records[i].EventType == WINDOW_BUFFER_SIZE_EVENT)
                resized = true;
            const KEY_EVENT_RECORD& key = records[i].Event.KeyEvent;
            if (records[i].EventType == KEY_EVENT && key.bKeyDown && key.uChar.UnicodeChar != 0 &&
                key.uChar.UnicodeChar < 0x80) {
                for (WORD repeat = 0; repeat < std::max<WORD>(key.wRepeatCount, 1); ++repeat)
                    keys += static_cast<char>(key.uChar.UnicodeChar);
            }
        }
        if (!keys.empty())
            return TerminalEvent::keys;
        if (resized)
            return TerminalEvent::resized;
    }
}

// A console program is not stopped by its keys.
void stopTerminal() {}

void setTerminalInterruptible(bool on)
{
    InterlockedExchange(&interruptible, on ? 1 : 0);
}

int endTerminal()
{
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    InterlockedExchange(&interruptible, 0);
    giveModesBack();
    outputModeSaved = keyModeSaved = false;
    if (keyHandle != INVALID_HANDLE_VALUE)
        CloseHandle(keyHandle);
    keyHandle = INVALID_HANDLE_VALUE;
    if (wakeEvent != nullptr)
        CloseHandle(wakeEvent);
    wakeEvent = nullptr;
    return static_cast<int>(InterlockedCompareExchange(&endingSignal, 0, 0));
}

void endBySignal(int)
{
    // How a console program that Ctrl+C ends exits.
    ExitProcess(STATUS_CONTROL_C_EXIT);
}

}  // namespace platform
