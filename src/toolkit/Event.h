#pragma once
// Manual-reset event with a waiting time-out.
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace tolm {

class TEvent {
public:
    explicit TEvent(bool initiallySet = false) : set_(initiallySet) {}
    void SetEvent() {
        std::lock_guard lock(mutex_);
        set_ = true;
        cv_.notify_all();
    }
    void ResetEvent() {
        std::lock_guard lock(mutex_);
        set_ = false;
    }
    bool IsSet() const {
        std::lock_guard lock(mutex_);
        return set_;
    }
    // True when the event was (or became) set within timeoutMs; false on time-out.
    bool WaitFor(int timeoutMs) {
        std::unique_lock lock(mutex_);
        if (timeoutMs < 0) timeoutMs = 0;
        return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return set_; });
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable cv_;
    bool set_;
};

// Blocks the calling thread for ms milliseconds.
void Sleep(int ms);

}  // namespace tolm
