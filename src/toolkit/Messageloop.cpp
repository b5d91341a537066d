#include "toolkit/Messageloop.h"

#include <algorithm>
#include <exception>

#include "toolkit/Messages.h"

namespace tolm {

namespace {
// What escapes a call or a tick is shown, as what escapes an event handler is.
void RunShowingErrors(const std::function<void()>& fn) {
    try {
        fn();
    } catch (const std::exception& e) {
        ShowMessage(e.what());
    } catch (...) {
        ShowMessage("Unknown exception");
    }
}
}  // namespace

void TMessageLoop::Post(std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    calls_.push_back({++lastPosted_, std::move(fn)});
    wake_.notify_all();
}

void TMessageLoop::DropPosted() {
    std::deque<Posted> dropped;
    {
        std::lock_guard lock(mutex_);
        dropped.swap(calls_);
    }
    // Destroyed here, outside the lock: a call's captures may post in turn.
}

TMessageLoop::TimerId TMessageLoop::AddTimer(std::function<void()> tick) {
    std::lock_guard lock(mutex_);
    const TimerId id = nextTimer_++;
    timers_[id].tick = std::make_shared<std::function<void()>>(std::move(tick));
    return id;
}

void TMessageLoop::StartTimer(TimerId id, std::chrono::milliseconds interval) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    Timer& timer = it->second;
    timer.interval = std::max(interval, std::chrono::milliseconds(1));
    timer.armed = true;
    ++timer.generation;
    deadlines_.push({Clock::now() + timer.interval, id, timer.generation});
    ++timerChanges_;
    wake_.notify_all();
}

void TMessageLoop::StopTimer(TimerId id) {
    std::lock_guard lock(mutex_);
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    it->second.armed = false;
    ++it->second.generation;
}

void TMessageLoop::RemoveTimer(TimerId id) {
    std::shared_ptr<std::function<void()>> tick;
    {
        std::lock_guard lock(mutex_);
        auto it = timers_.find(id);
        if (it == timers_.end()) return;
        tick = std::move(it->second.tick);
        timers_.erase(it);
    }
}

void TMessageLoop::DropStaleDeadlines() {
    while (!deadlines_.empty()) {
        const Deadline& top = deadlines_.top();
        auto it = timers_.find(top.id);
        if (it != timers_.end() && it->second.armed && it->second.generation == top.generation) return;
        deadlines_.pop();
    }
}

bool TMessageLoop::RunOneCall(uint64_t upTo) {
    std::function<void()> fn;
    {
        std::lock_guard lock(mutex_);
        if (calls_.empty() || calls_.front().sequence > upTo) return false;
        fn = std::move(calls_.front().fn);
        calls_.pop_front();
    }
    RunShowingErrors(fn);
    return true;
}

bool TMessageLoop::RunOneTimer(Clock::time_point now) {
    Deadline due{};
    std::shared_ptr<std::function<void()>> tick;
    {
        std::lock_guard lock(mutex_);
        DropStaleDeadlines();
        if (deadlines_.empty() || deadlines_.top().when > now) return false;
        due = deadlines_.top();
        deadlines_.pop();
        Timer& timer = timers_[due.id];
        if (timer.running) {
            // Its tick is below us on the stack: no second tick inside it.
            deadlines_.push({Clock::now() + timer.interval, due.id, due.generation});
            return true;
        }
        timer.running = true;
        tick = timer.tick;
    }
    RunShowingErrors(*tick);
    std::lock_guard lock(mutex_);
    auto it = timers_.find(due.id);
    if (it == timers_.end()) return true;
    Timer& timer = it->second;
    timer.running = false;
    if (timer.armed && timer.generation == due.generation) {
        // Due again one interval after the last deadline, or one interval
        // from now when the tick ran past it: never twice in one pass.
        const auto after = Clock::now();
        auto next = due.when + timer.interval;
        if (next <= after) next = after + timer.interval;
        deadlines_.push({next, due.id, due.generation});
    }
    return true;
}

void TMessageLoop::RunDue() {
    uint64_t upTo;
    {
        std::lock_guard lock(mutex_);
        upTo = lastPosted_;
    }
    while (RunOneCall(upTo)) {
    }
    const auto now = Clock::now();
    while (RunOneTimer(now)) {
    }
}

void TMessageLoop::WaitAndRun(std::chrono::milliseconds maxWait) {
    {
        std::unique_lock lock(mutex_);
        DropStaleDeadlines();
        auto until = Clock::now() + maxWait;
        if (!deadlines_.empty() && deadlines_.top().when < until) until = deadlines_.top().when;
        const uint64_t changes = timerChanges_;
        wake_.wait_until(lock, until, [&] { return !calls_.empty() || timerChanges_ != changes; });
    }
    RunDue();
}

}  // namespace tolm
