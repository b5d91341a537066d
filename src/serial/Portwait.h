#pragma once
// Sleeping until a port has input, another thread asks for a wake-up, or a
// time limit passes: what the component's polling threads do between passes.
#include <chrono>
#include <vector>

namespace tolm {

// A descriptor another thread makes readable to end a wait at once (an eventfd).
class TWakeup {
public:
    TWakeup();
    ~TWakeup();
    TWakeup(const TWakeup&) = delete;
    TWakeup& operator=(const TWakeup&) = delete;

    // Safe from any thread; signals add up to one wake-up until drained.
    void Signal();
    // Takes back every signal given so far.
    void Drain();
    // -1 when no descriptor could be made (waits then only time out).
    int Fd() const { return fd_; }

private:
    int fd_ = -1;
};

struct TInputWaitResult {
    bool Woken = false;          // the wake-up was signalled (and is now drained)
    std::vector<short> Events;   // poll(2) events of each descriptor, in order (0: none)
};

// Waits until one of fds is readable or reports an error or hang-up, the
// wake-up is signalled, or timeout passes (sub-millisecond limits are kept).
TInputWaitResult WaitForInput(const std::vector<int>& fds, TWakeup& wakeup, std::chrono::nanoseconds timeout);

}  // namespace tolm
