#pragma once
// Sleeping until a port has input, another thread asks for a wake-up, or a
// time limit passes: what the component's polling threads do between passes.
// On POSIX the waits are descriptors and poll(2) (Posixportwait.cpp); on Windows
// event handles and WaitForMultipleObjects (Win32portwait.cpp).
#include <chrono>
#include <vector>

namespace tolm {

// What a wait reports for each descriptor; the values are poll(2)'s.
enum : short {
    kWaitInput = 0x001,    // input waits (POLLIN)
    kWaitError = 0x008,    // POLLERR
    kWaitHangUp = 0x010,   // POLLHUP
    kWaitInvalid = 0x020,  // POLLNVAL
};

// A descriptor another thread makes readable to end a wait at once (an
// eventfd; on Windows an event, its handle as a 32-bit value).
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
    std::vector<short> Events;   // kWait flags of each descriptor, in order (0: none)
};

// Waits until one of fds is readable or reports an error or hang-up, the
// wake-up is signalled, or timeout passes (sub-millisecond limits are kept).
TInputWaitResult WaitForInput(const std::vector<int>& fds, TWakeup& wakeup, std::chrono::nanoseconds timeout);

}  // namespace tolm
