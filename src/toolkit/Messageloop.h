#pragma once
// A message loop on the standard library alone: calls posted from any thread,
// repeating timers on a deadline heap, and a condition variable that wakes the
// waiting thread when either has something due. One thread runs the loop
// (MainThread.h says which); posting and the timer calls are safe from any.
//
// Calls run in the order they were posted, nested processing included: a call
// that processes messages itself (ProcessMessages inside an exchange, a modal
// box) runs the calls queued behind it and never one twice. A timer does not
// fire again while its own tick still runs (the tick may process messages);
// it comes due again once that tick has returned.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <queue>
#include <vector>

namespace tolm {

class TMessageLoop {
public:
    using Clock = std::chrono::steady_clock;
    using TimerId = uint64_t;

    TMessageLoop() = default;
    TMessageLoop(const TMessageLoop&) = delete;
    TMessageLoop& operator=(const TMessageLoop&) = delete;

    // Queues fn and wakes the loop.
    void Post(std::function<void()> fn);
    // Drops every queued call (the thread they were meant for has gone).
    void DropPosted();

    // A repeating timer, stopped until started; tick runs on the loop's thread.
    TimerId AddTimer(std::function<void()> tick);
    // (Re)starts the timer: the first tick interval from now, then one every
    // interval (a tick that comes late does not bring the next ones forward).
    void StartTimer(TimerId id, std::chrono::milliseconds interval);
    void StopTimer(TimerId id);
    // Stops and forgets the timer; a tick running now still runs to its end.
    void RemoveTimer(TimerId id);

    // Runs the calls queued before it was called, then the timers due by then,
    // without waiting. What a call or tick throws is shown to the operator and
    // the rest still run: nothing is thrown out of the loop.
    void RunDue();
    // Waits until a call is queued, a timer comes due or maxWait has passed,
    // then runs what is due.
    void WaitAndRun(std::chrono::milliseconds maxWait);

private:
    struct Posted {
        uint64_t sequence;
        std::function<void()> fn;
    };
    struct Timer {
        std::shared_ptr<std::function<void()>> tick;
        std::chrono::milliseconds interval{0};
        uint64_t generation = 0;  // a start or stop makes older deadlines stale
        bool armed = false;
        bool running = false;
    };
    struct Deadline {
        Clock::time_point when;
        TimerId id;
        uint64_t generation;
        bool operator>(const Deadline& other) const { return when > other.when; }
    };

    bool RunOneCall(uint64_t upTo);
    bool RunOneTimer(Clock::time_point now);
    void DropStaleDeadlines();  // under mutex_

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Posted> calls_;
    uint64_t lastPosted_ = 0;
    uint64_t timerChanges_ = 0;  // wakes a waiting loop to look at the heap again
    std::map<TimerId, Timer> timers_;
    TimerId nextTimer_ = 1;
    std::priority_queue<Deadline, std::vector<Deadline>, std::greater<>> deadlines_;
};

}  // namespace tolm
