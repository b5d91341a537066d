#pragma once
// One run of this program in a process of its own, as the multi-port commands
// start them: the child's report comes on descriptor 3, its stderr on a second
// pipe, its stdin is a control pipe from the parent, its stdout goes nowhere.
// The child ignores the terminal's SIGINT and SIGHUP (its parent decides what
// they stop) and gets SIGTERM when its parent dies, so that no upgrade goes on
// whose line nobody would write. The POSIX mechanics live here alone, the
// Windows ones in Win32childprocess.cpp: CreateProcessW of this program, the
// report pipe handed over as the child's descriptor 3, a thread reading each
// pipe (the descriptors to poll are then events, as 32-bit values), and a
// stop asked on the control pipe (Childcontrol.h) instead of by SIGTERM.
#include <sys/types.h>

#include <memory>
#include <string>
#include <vector>

namespace tolm::cli {

// How a child ended.
struct TChildExit {
    bool Waited = false;     // false: its end could not be learned (Error says why)
    bool Signalled = false;  // ended by signal Signal, else exited with Code
    int Code = -1;
    int Signal = 0;
    std::string Error;
    bool Clean() const { return Waited && !Signalled && Code == 0; }
};

class TChildProcess {
public:
    static constexpr int kReportFd = 3;

    TChildProcess();
    ~TChildProcess();  // a child still running gets SIGTERM and is waited for
    TChildProcess(const TChildProcess&) = delete;
    TChildProcess& operator=(const TChildProcess&) = delete;

    // Starts this program's own file with args (args[0] is the name it is
    // given). False, with error set, when it could not start.
    bool Start(const std::vector<std::string>& args, std::string& error);
    bool Running() const;
    // The pipes still open, to poll for input.
    int ReportFd() const;
    int ErrorFd() const;
    // Reads what fd (one of the two above) holds into buf. 0 at its end, after
    // which the pipe is closed; -1 when nothing can be read now.
    ssize_t Read(int fd, char* buf, size_t size);
    // Writes a line to the child's control pipe; never blocks, and a child
    // that has gone or does not read simply misses it.
    void Tell(const std::string& line);
    // SIGTERM: a run that waits ends at once, a transfer after its current exchange.
    void Stop();
    // Ends the child at once (SIGKILL; on Windows TerminateProcess with 128 + 9),
    // stopped or hung as it may be.
    void Kill();
    // Waits for the child to end and reaps it.
    TChildExit Wait();

private:
    struct TState;  // the system's handles of the child and of its pipes
    std::unique_ptr<TState> state_;
};

}  // namespace tolm::cli
