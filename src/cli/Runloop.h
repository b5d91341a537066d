#pragma once
// What the multi-port commands share: the parent's Ctrl-C, and one wait over
// the pipes of every running port.
#include <memory>
#include <vector>

#include "cli/Board.h"
#include "cli/Portrun.h"

namespace tolm::cli {

// Counts SIGINT, SIGTERM and SIGHUP (the terminal went away) through a
// self-pipe while it exists, so that the wait below wakes at once; and
// ignores SIGPIPE, so that a reader of stdout or stderr that goes away (a
// closed "| tee") costs the output, never the runs or their record. Before
// and after: the default handling.
// On Windows (Win32runloop.cpp) the console's Ctrl-C and Ctrl-Break count as
// SIGINT; pressed pressesToEnd times they end the program at once with
// status 130. The console's closing (SIGHUP), logging off and shutting down
// (SIGTERM) count twice, so that every run stops after its current exchange,
// and the program is given the time the system grants to record and end.
class TInterrupts {
public:
    explicit TInterrupts(int pressesToEnd = 2);
    ~TInterrupts();
    TInterrupts(const TInterrupts&) = delete;
    TInterrupts& operator=(const TInterrupts&) = delete;
    int Fd() const;
    // Signals that came since the previous call.
    int Take();
    // The exit status for the last signal: 130 for SIGINT, 143 for SIGTERM, 129 for SIGHUP; 0 for none.
    int ExitStatus() const;
};

// Waits at most timeoutMs for output of any run or a signal, and hands every
// line to the runs and the board. Returns the number of new signals.
int PumpRuns(const std::vector<TPortRun*>& runs, TInterrupts& interrupts, TBoard& board, int timeoutMs);

}  // namespace tolm::cli
