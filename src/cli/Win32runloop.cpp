// The multi-port commands' Ctrl-C and their wait over every run's pipes, on
// Windows (Runloop.h): the console's Ctrl-C and Ctrl-Break count as SIGINT
// (exit status 130), and pressed pressesToEnd times end the program at once
// with that status; closing the console counts as SIGHUP, logging off and
// shutting down as SIGTERM, each twice, so that every run stops after its
// current exchange; the system ends the program when the handler returns, so
// the handler gives it the time the system grants. The runs have no console
// (Win32childprocess.cpp): its events are this process's alone. A run's pipes
// are events, waited on with WaitForMultipleObjects.
#include "cli/Runloop.h"

#include <signal.h>

#include <algorithm>
#include <atomic>

#include <windows.h>

namespace tolm::cli {

namespace {
constexpr int kSignalHangUp = 1;
// The system gives a console program 5 s after closing, logging off or shutting down.
constexpr DWORD kWindDownMs = 4500;

HANDLE g_wake = nullptr;
std::atomic<int> g_count{0};
std::atomic<int> g_lastSignal{0};
std::atomic<int> g_presses{0};
std::atomic<int> g_pressesToEnd{2};

BOOL WINAPI OnConsoleControl(DWORD type) {
    int signal = 0;
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: signal = SIGINT; break;
        case CTRL_CLOSE_EVENT: signal = kSignalHangUp; break;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: signal = SIGTERM; break;
        default: return FALSE;
    }
    g_lastSignal = signal;
    if (signal == SIGINT && ++g_presses >= g_pressesToEnd) ExitProcess(128 + SIGINT);
    g_count += signal == SIGINT ? 1 : 2;
    if (g_wake) SetEvent(g_wake);
    if (signal != SIGINT) {
        Sleep(kWindDownMs);
        ExitProcess(static_cast<UINT>(128 + signal));
    }
    return TRUE;
}

HANDLE FromValue(int value) { return LongToHandle(value); }
}  // namespace

TInterrupts::TInterrupts(int pressesToEnd) {
    g_wake = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    g_count = 0;
    g_lastSignal = 0;
    g_presses = 0;
    g_pressesToEnd = pressesToEnd;
    // Ctrl-C reaches this process even when the one that started it asked
    // its children to ignore it.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
}
TInterrupts::~TInterrupts() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    if (g_wake) CloseHandle(g_wake);
    g_wake = nullptr;
}

int TInterrupts::Fd() const { return g_wake ? HandleToLong(g_wake) : -1; }

int TInterrupts::Take() {
    if (g_wake) ResetEvent(g_wake);
    return g_count.exchange(0);
}

int TInterrupts::ExitStatus() const {
    const int sig = g_lastSignal;
    return sig == 0 ? 0 : 128 + sig;
}

int PumpRuns(const std::vector<TPortRun*>& runs, TInterrupts& interrupts, TBoard& board, int timeoutMs) {
    std::vector<HANDLE> handles;
    std::vector<int> fds;
    std::vector<TPortRun*> owners;
    for (auto& run : runs)
        for (int fd : run->Descriptors()) {
            handles.push_back(FromValue(fd));
            fds.push_back(fd);
            owners.push_back(run);
        }
    // One wait holds 64 handles: with more, the rest are looked at after a short wait.
    const size_t waited = std::min<size_t>(handles.size(), MAXIMUM_WAIT_OBJECTS - 1);
    std::vector<HANDLE> wait(handles.begin(), handles.begin() + static_cast<long>(waited));
    if (interrupts.Fd() != -1) wait.push_back(FromValue(interrupts.Fd()));
    const DWORD limit = waited < handles.size() ? std::min(timeoutMs, 10) : static_cast<DWORD>(timeoutMs);
    if (wait.empty())
        Sleep(limit);
    else
        WaitForMultipleObjects(static_cast<DWORD>(wait.size()), wait.data(), FALSE, limit);
    for (size_t i = 0; i < handles.size(); ++i) {
        if (WaitForSingleObject(handles[i], 0) != WAIT_OBJECT_0) continue;
        owners[i]->Readable(
            fds[i], [&](TPortRun& run, const std::string& line) { board.Message(run.Row, line); },
            [&] { board.Changed(); });
    }
    return interrupts.Fd() != -1 && WaitForSingleObject(FromValue(interrupts.Fd()), 0) == WAIT_OBJECT_0
               ? interrupts.Take()
               : 0;
}

}  // namespace tolm::cli
