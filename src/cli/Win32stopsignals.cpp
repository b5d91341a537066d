// Ctrl-C and Ctrl-Break on Windows, through SetConsoleCtrlHandler, behaving as
// SIGINT does on POSIX: the first calls the stop action (the current exchange
// finishes, the port is closed, exit status 130); a second ends the process
// at once. The console calls the handler on a thread of its own, so the stop
// action runs on the watcher thread, as on POSIX.
#include "cli/Stopsignals.h"

#include <signal.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tolm::cli {

const char* const kStopStatusText = "130 when Ctrl-C or Ctrl-Break";

namespace {
// One handler per process; the watcher thread does the rest.
std::atomic<int> g_signal{0};
std::mutex g_mutex;
std::condition_variable g_changed;
bool g_quit = false;
int g_events = 0;  // Ctrl-C or Ctrl-Break presses not yet seen by the watcher

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;
    int none = 0;
    if (!g_signal.compare_exchange_strong(none, SIGINT)) return FALSE;  // the second: the default, ending the process
    {
        std::lock_guard lock(g_mutex);
        ++g_events;
    }
    g_changed.notify_all();
    return TRUE;
}
}  // namespace

TStopSignals::TStopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    g_signal = 0;
    {
        std::lock_guard lock(g_mutex);
        g_quit = false;
        g_events = 0;
    }
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
    std::fprintf(stderr, "tolm-upgrade-cli: Ctrl-C: stopping after the current exchange (again to end at once)\n");
    if (onStop_) onStop_();
}

}  // namespace tolm::cli
