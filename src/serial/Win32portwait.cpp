// The waits of the polling threads on Windows: event handles (a port's input
// event, Win32serialdevice.h; a wake-up) and WaitForMultipleObjects.
#include "serial/Portwait.h"

#include <algorithm>
#include <thread>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>  // timeBeginPeriod

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

// The system's timer ticks every 15.6 ms unless a program asks for finer
// ones; the settle rules look at a line within milliseconds.
struct TFineTimer {
    TFineTimer() { timeBeginPeriod(1); }
    ~TFineTimer() { timeEndPeriod(1); }
};
}  // namespace

TWakeup::TWakeup() {
    static TFineTimer fineTimer;
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
    TInputWaitResult result;
    result.Events.assign(fds.size(), 0);

    std::vector<HANDLE> handles;
    std::vector<size_t> index;  // fds position of each handle
    for (size_t i = 0; i < fds.size() && handles.size() + 1 < MAXIMUM_WAIT_OBJECTS; ++i) {
        if (fds[i] == -1) continue;
        handles.push_back(FromValue(fds[i]));
        index.push_back(i);
    }
    DWORD limit = CeilMs(timeout);
    // Ports beyond what one wait can hold are looked at again soon instead.
    if (handles.size() < static_cast<size_t>(std::count_if(fds.begin(), fds.end(), [](int fd) { return fd != -1; })))
        limit = std::min<DWORD>(limit, 5);
    if (wakeup.Fd() != -1) handles.push_back(FromValue(wakeup.Fd()));

    if (handles.empty()) {
        Sleep(limit);
        return result;
    }
    const DWORD r = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE, limit);
    if (r == WAIT_FAILED) {
        // A handle closed meanwhile (its port was closed): let the time pass
        // rather than return at once into a busy loop.
        Sleep(limit);
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
