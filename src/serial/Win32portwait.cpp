// The waits of the polling threads on Windows: event handles (a port's input
// event, Win32serialdevice.h; a wake-up) and WaitForMultipleObjects.
#include "serial/Portwait.h"

#include <algorithm>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tolm {

namespace {
HANDLE FromValue(int value) { return LongToHandle(value); }

// Wait limits are whole milliseconds here; a limit is rounded up so that a
// sub-millisecond one does not become a busy loop.
DWORD CeilMs(std::chrono::nanoseconds timeout) {
    using namespace std::chrono;
    if (timeout <= nanoseconds(0)) return 0;
    return static_cast<DWORD>(duration_cast<milliseconds>(timeout + nanoseconds(999'999)).count());
}
}  // namespace

TWakeup::TWakeup() {
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    fd_ = event ? HandleToLong(event) : -1;
}

TWakeup::~TWakeup() {
    if (fd_ != -1) CloseHandle(FromValue(fd_));
}

void TWakeup::Signal() {
    if (fd_ != -1) SetEvent(FromValue(fd_));
}

void TWakeup::Drain() {
    if (fd_ != -1) ResetEvent(FromValue(fd_));
}

TInputWaitResult WaitForInput(const std::vector<int>& fds, TWakeup& wakeup, std::chrono::nanoseconds timeout) {
    using namespace std::chrono;
    TInputWaitResult result;
    result.Events.assign(fds.size(), 0);

    std::vector<HANDLE> handles;
    std::vector<size_t> index;  // fds position of each handle
    size_t ports = 0;
    for (size_t i = 0; i < fds.size(); ++i) {
        if (fds[i] == -1) continue;
        ++ports;
        if (handles.size() + 1 >= MAXIMUM_WAIT_OBJECTS) continue;
        handles.push_back(FromValue(fds[i]));
        index.push_back(i);
    }
    // Ports beyond what one wait can hold are looked at again soon instead.
    if (handles.size() < ports) timeout = std::min<nanoseconds>(timeout, milliseconds(5));
    if (wakeup.Fd() != -1) handles.push_back(FromValue(wakeup.Fd()));

    const auto deadline = steady_clock::now() + std::max(timeout, nanoseconds(0));
    DWORD r = WAIT_TIMEOUT;
    if (timeout >= milliseconds(1) || handles.empty()) {
        r = handles.empty() ? (Sleep(CeilMs(timeout)), WAIT_TIMEOUT)
                            : WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                                     CeilMs(timeout));
    } else {
        // Waits take whole milliseconds; a shorter limit (a reply's last two
        // character times) is kept by giving up the processor until it has
        // passed. The handles are not asked meanwhile: each look costs a call
        // to Wine's server, and what they signal stays signalled.
        while (steady_clock::now() < deadline) SwitchToThread();
    }
    if (r == WAIT_FAILED) {
        // A handle closed meanwhile (its port was closed): let the time pass
        // rather than return at once into a busy loop.
        Sleep(CeilMs(timeout));
        return result;
    }
    if (r == WAIT_TIMEOUT) return result;
    // One handle ended the wait; tell every one that is signalled now.
    for (size_t i = 0; i < index.size(); ++i)
        if (WaitForSingleObject(handles[i], 0) == WAIT_OBJECT_0) result.Events[index[i]] = kWaitInput;
    if (wakeup.Fd() != -1 && WaitForSingleObject(FromValue(wakeup.Fd()), 0) == WAIT_OBJECT_0) {
        wakeup.Drain();
        result.Woken = true;
    }
    return result;
}

}  // namespace tolm
