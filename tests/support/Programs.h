#pragma once
// Runs the built programs as a user would: tolm-devsim in the background on a
// pseudo-terminal, tolm-upgrade-cli to completion with its output captured.
#include <string>
#include <vector>

namespace tolm::test {

struct RunResult {
    int exitCode = -1;  // -1 when killed at the time limit
    std::string out;
    std::string err;
    std::string LastOutLine() const;
};

// Runs program with args, waits at most timeoutMs (then kills it).
RunResult Run(const std::string& program, const std::vector<std::string>& args, int timeoutMs);

// A program (tolm-devsim run ...) started at construction, stopped (SIGTERM) by Stop()
// or the destructor.
class BackgroundDevice {
public:
    BackgroundDevice(const std::string& program, const std::vector<std::string>& args);
    ~BackgroundDevice();
    BackgroundDevice(const BackgroundDevice&) = delete;
    BackgroundDevice& operator=(const BackgroundDevice&) = delete;
    // The pty path it printed; empty when it did not start.
    const std::string& Pty() const { return pty_; }
    // Stops it (its image file is written at exit); returns its exit status.
    int Stop();

private:
    int pid_ = -1;
    int outFd_ = -1;
    std::string pty_;
};

}  // namespace tolm::test
