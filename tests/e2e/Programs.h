#pragma once
// Runs the built programs as a user would: tolm-devsim in the background on a
// pseudo-terminal, tolm-upgrade-cli to completion with its output captured.
#include <string>
#include <vector>

namespace tolm::e2e {

struct RunResult {
    int exitCode = -1;  // -1 when killed at the time limit
    std::string out;
    std::string err;
    std::string LastOutLine() const;
};

// Runs program with args, waits at most timeoutMs (then kills it).
RunResult Run(const std::string& program, const std::vector<std::string>& args, int timeoutMs);

// tolm-devsim run ...: started at construction, stopped (SIGTERM) by Stop()
// or the destructor.
class Device {
public:
    explicit Device(const std::vector<std::string>& args);
    ~Device();
    Device(const Device&) = delete;
    Device& operator=(const Device&) = delete;
    // The pty path it printed; empty when it did not start.
    const std::string& Pty() const { return pty_; }
    // Stops it (its image file is written at exit); returns its exit status.
    int Stop();

private:
    int pid_ = -1;
    int outFd_ = -1;
    std::string pty_;
};

}  // namespace tolm::e2e
