#pragma once
// SIGINT and SIGTERM while a command drives devices: instead of ending the
// process in the middle of a transfer, the first signal calls the stop action
// (for an upgrade, the serial component's RequestStop: the current exchange
// finishes, no further one starts), so that the command can close its ports,
// print the outcome and exit with 128 + the signal's number. A second signal
// ends the process at once, as usual. On Windows, Ctrl-C and Ctrl-Break
// (SetConsoleCtrlHandler) count as SIGINT, logging off and shutting down as
// SIGTERM, and the console's closing as SIGHUP (Win32stopsignals.cpp).
#include <functional>
#include <thread>

namespace tolm::cli {

// What the help says ends an upgrade early: "130 or 143 when SIGINT or
// SIGTERM" (on Windows "130 when Ctrl-C or Ctrl-Break").
extern const char* const kStopStatusText;

class TStopSignals {
public:
    // Installs the handlers; onStop runs on a thread of this object's own.
    explicit TStopSignals(std::function<void()> onStop);
    // Restores the handlers that were in place before.
    ~TStopSignals();
    TStopSignals(const TStopSignals&) = delete;
    TStopSignals& operator=(const TStopSignals&) = delete;

    // The first signal received: 0, SIGINT or SIGTERM (on Windows also 1,
    // SIGHUP's number, for the console's closing).
    int Signal() const;
    bool Stopped() const { return Signal() != 0; }
    // 130 after SIGINT, 143 after SIGTERM (129 after the console's closing).
    int ExitStatus() const { return 128 + Signal(); }

private:
    void Watch();
    std::function<void()> onStop_;
    std::thread watcher_;
};

}  // namespace tolm::cli
