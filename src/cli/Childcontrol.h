#pragma once
// The child side of a multi-port or station run's control: how its parent
// asks it to stop, and how it tells that the port's node changed.
//  - POSIX (Posixchildcontrol.cpp): SIGTERM asks the run to stop (AskStop); the
//    terminal's SIGINT and SIGHUP, and SIGPIPE, are left to the parent; the
//    lines on stdin tell of node changes. The parent's death asks the run to
//    stop too (the SIGTERM its start arranged, and the pipe's end).
//  - Windows (Win32childcontrol.cpp): a thread reads stdin, the parent's
//    control pipe: the line kStopLine, or the pipe's end (the parent has
//    gone), asks the run to stop. A run has no console, so the console's
//    events are the parent's.
// On both, a line starting with kVerdictLine answers AwaitVerdict; any other
// line tells of a node change. Only a parent's control pipe is read, never an
// operator's terminal.
#include <chrono>
#include <optional>
#include <string>

namespace tolm::cli {

// The line a parent writes on a child's stdin to stop it, where there are no signals.
inline constexpr const char* kStopLine = "stop";
// A station's answer to a run about to send its first byte: "attempt go", or
// "attempt refused" and why (the run's result then).
inline constexpr const char* kVerdictLine = "attempt ";
inline constexpr const char* kGoVerdict = "go";
inline constexpr const char* kRefusedVerdict = "refused ";

class TChildControl {
public:
    TChildControl();
    ~TChildControl();
    TChildControl(const TChildControl&) = delete;
    TChildControl& operator=(const TChildControl&) = delete;

    // True when the parent told that the port's node changed since the last call.
    bool TakeNodeChange();
    // Waits up to timeout for the parent's verdict line and returns what
    // follows kVerdictLine; nothing when none came (the parent has gone or
    // does not answer). Node changes told meanwhile are kept for TakeNodeChange.
    std::optional<std::string> AwaitVerdict(std::chrono::milliseconds timeout);
};

}  // namespace tolm::cli
