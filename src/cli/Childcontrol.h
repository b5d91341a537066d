#pragma once
// The child side of a multi-port or station run's control: how its parent
// asks it to stop, and how it tells that the port's node changed.
//  - POSIX (Childcontrol.cpp): SIGTERM asks the run to stop (AskStop); the
//    terminal's SIGINT and SIGHUP, and SIGPIPE, are left to the parent; the
//    lines on stdin tell of node changes.
//  - Windows (Win32childcontrol.cpp): a thread reads stdin, the parent's
//    control pipe: the line kStopLine, or the pipe's end (the parent has
//    gone), asks the run to stop; any other line tells of a node change.
//    A run has no console, so the console's events are the parent's.
// Only a parent's control pipe is read, never an operator's terminal.
namespace tolm::cli {

// The line a parent writes on a child's stdin to stop it, where there are no signals.
inline constexpr const char* kStopLine = "stop";

class TChildControl {
public:
    TChildControl();
    ~TChildControl();
    TChildControl(const TChildControl&) = delete;
    TChildControl& operator=(const TChildControl&) = delete;

    // True when the parent told that the port's node changed since the last call.
    bool TakeNodeChange();
};

}  // namespace tolm::cli
