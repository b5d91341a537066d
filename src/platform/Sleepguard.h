#pragma once
// Keeps the computer from going to sleep or shutting down while a transfer
// to a device runs: a half-written image can leave a device that no longer
// starts. The serial component holds one from the first byte it sends to a
// device until that port is closed (Tolmserialcomm.h).
//
// - Linux: a logind inhibitor lock, what "sleep:shutdown", mode "block",
//   who the program's name, why kReason, taken over the system D-Bus
//   ($DBUS_SYSTEM_BUS_ADDRESS, else the standard socket). logind keeps it for
//   as long as the descriptor it hands out is open; Release() closes it. The
//   descriptor is not passed on to child processes.
// - Windows: SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED) on
//   the calling thread; Release() clears it again.
//
// Where the system offers no such lock (no bus, no logind, a build without
// libdbus), Hold() holds nothing and says nothing: the transfer runs as it
// would without it. Hold() never waits long for the system's answer: a bus
// that is not there fails at once, one that does not answer is given up
// after kAnswerTimeoutMs per request (two requests).
//
// Thread-safety: an object is used by one thread. On Windows the state
// belongs to the thread that set it, so Hold() and Release() must be called
// on the same thread (the serial component's main thread).
#include <memory>

namespace tolm {

class TSleepGuard {
public:
    TSleepGuard();
    ~TSleepGuard();  // Release()
    TSleepGuard(const TSleepGuard&) = delete;
    TSleepGuard& operator=(const TSleepGuard&) = delete;

    // Takes the lock unless it is held; true when it is held afterwards.
    bool Hold();
    // Gives the lock back; nothing when none is held.
    void Release();
    bool Held() const;

    static constexpr const char* kReason = "Firmware upgrade in progress";
    static constexpr int kAnswerTimeoutMs = 1000;

private:
    struct TLock;
    std::unique_ptr<TLock> lock_;
};

}  // namespace tolm
