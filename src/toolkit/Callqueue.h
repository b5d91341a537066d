#pragma once
// Calls handed to one thread's event loop. The queue is made on the thread
// that runs the calls; Post() may be called from any thread. The hand-off
// goes through a standard mutex, so that race checkers see its ordering, and
// the thread is woken through an eventfd its event loop watches.
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

class QSocketNotifier;

namespace tolm {

class TCallQueue {
public:
    // Made on the thread that runs the calls (it needs that thread's event loop).
    TCallQueue();
    // Destroyed on the same thread; calls still queued are dropped.
    ~TCallQueue();
    TCallQueue(const TCallQueue&) = delete;
    TCallQueue& operator=(const TCallQueue&) = delete;

    void Post(std::function<void()> fn);
    // Runs the calls queued so far, in order. An exception that escapes a call
    // is shown to the operator, as one escaping an event handler is, and the
    // calls after it still run: nothing is thrown into the event loop.
    void RunPending();
    std::thread::id Thread() const { return thread_; }

private:
    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread::id thread_;
};

}  // namespace tolm
