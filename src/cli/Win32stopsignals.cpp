// The console's events on Windows (SetConsoleCtrlHandler), behaving as
// SIGINT and SIGTERM do on POSIX:
//  - Ctrl-C and Ctrl-Break: the first calls the stop action (the current
//    exchange finishes, the port is closed, exit status 130); a second ends
//    the process at once with status 130, never with the system's own
//    0xC000013A.
//  - the console closed (status 129), logging off or shutting down (143):
//    the stop action too. The system ends the process as soon as the handler
//    returns, so the handler waits for the command to wind down (its exit
//    ends the wait) for at most kWindDownMs, within the time the system
//    grants, and then ends the process itself.
// The console calls the handler on a thread of its own, so the stop action
// runs on the watcher thread, as on POSIX.
#include "cli/Stopsignals.h"

#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "cli/Consoletext.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tolm::cli {

const char* const kStopStatusText = "130 when Ctrl-C or Ctrl-Break";

namespace {
constexpr int kSignalHangUp = 1;  // the console went away, as SIGHUP
// The system gives a console program 5 s after these events.
constexpr DWORD kWindDownMs = 4500;

// One handler per process; the watcher thread does the rest.
std::atomic<int> g_signal{0};
std::mutex g_mutex;
std::condition_variable g_changed;
bool g_quit = false;
int g_events = 0;  // events not yet seen by the watcher

int SignalOf(DWORD type) {
    switch (type) {
        case CTRL_C_EVENT:
        case CTRL_BREAK_EVENT: return SIGINT;
        case CTRL_CLOSE_EVENT: return kSignalHangUp;
        case CTRL_LOGOFF_EVENT:
        case CTRL_SHUTDOWN_EVENT: return SIGTERM;
        default: return 0;
    }
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    const int signal = SignalOf(type);
    if (signal == 0) return FALSE;
    int none = 0;
    if (g_signal.compare_exchange_strong(none, signal)) {
        {
            std::lock_guard lock(g_mutex);
            ++g_events;
        }
        g_changed.notify_all();
    } else if (signal == SIGINT) {
        ExitProcess(static_cast<UINT>(128 + g_signal.load()));  // pressed again: at once
    }
    if (signal != SIGINT) {
        Sleep(kWindDownMs);
        ExitProcess(static_cast<UINT>(128 + g_signal.load()));
    }
    return TRUE;
}

const char* EventName(int signal) {
    switch (signal) {
        case SIGINT: return "Ctrl-C";
        case kSignalHangUp: return "the console was closed";
        default: return "the session is ending";
    }
}
}  // namespace

TStopSignals::TStopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    g_signal = 0;
    {
        std::lock_guard lock(g_mutex);
        g_quit = false;
        g_events = 0;
    }
    // Ctrl-C reaches this process even when the one that started it asked
    // its children to ignore it.
    SetConsoleCtrlHandler(nullptr, FALSE);
    SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    watcher_ = std::thread([this] { Watch(); });
}

TStopSignals::~TStopSignals() {
    SetConsoleCtrlHandler(OnConsoleControl, FALSE);
    {
        std::lock_guard lock(g_mutex);
        g_quit = true;
    }
    g_changed.notify_all();
    watcher_.join();
}

int TStopSignals::Signal() const { return g_signal.load(); }

void TStopSignals::Watch() {
    std::unique_lock lock(g_mutex);
    g_changed.wait(lock, [] { return g_quit || g_events > 0; });
    if (g_quit) return;
    lock.unlock();
    const int signal = g_signal.load();
    Printf(stderr, "tolm-upgrade-cli: %s: stopping after the current exchange%s\n", EventName(signal),
           signal == SIGINT ? " (again to end at once)" : "");
    std::fflush(stderr);
    if (onStop_) onStop_();
}

}  // namespace tolm::cli
