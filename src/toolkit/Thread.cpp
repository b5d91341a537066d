#include "toolkit/Thread.h"

#include "toolkit/MainThread.h"

namespace tolm {

// One synchronised call: shared by the waiting thread and the queued main-thread
// call, so whichever side finishes last releases it.
struct TThread::SyncState {
    std::mutex mutex;
    std::condition_variable done;
    bool started = false;
    bool finished = false;
    bool cancelled = false;
    std::function<void()> fn;
};

TThread::TThread() = default;

TThread::~TThread() {
    Terminate();
    WaitFor();
}

void TThread::Start() {
    if (thread_.joinable()) return;
    running_ = true;
    thread_ = std::thread([this] {
        ApplyPriority();
        Execute();
        running_ = false;
    });
}

void TThread::Terminate() {
    terminated_ = true;
    std::shared_ptr<SyncState> sync;
    {
        std::lock_guard lock(mutex_);
        sync = pendingSync_;
        wake_.notify_all();
    }
    if (sync) {
        std::lock_guard lock(sync->mutex);
        sync->cancelled = true;
        sync->done.notify_all();
    }
}

void TThread::WaitFor() {
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

void TThread::SetPriority(TThreadPriority priority) {
    priority_ = priority;
    if (thread_.joinable()) ApplyPriority();
}

bool TThread::Synchronize(std::function<void()> fn) {
    if (terminated_) return false;
    if (IsMainThread()) {
        fn();
        return true;
    }
    auto sync = std::make_shared<SyncState>();
    sync->fn = std::move(fn);
    {
        std::lock_guard lock(mutex_);
        pendingSync_ = sync;
    }
    PostToMainThread([sync] {
        {
            std::lock_guard lock(sync->mutex);
            if (sync->cancelled) return;
            sync->started = true;
        }
        // A stop request cannot interrupt fn once it has started; it only ends
        // the thread's wait (see Synchronize in Thread.h).
        struct Finish {
            SyncState& s;
            ~Finish() {
                std::lock_guard lock(s.mutex);
                s.finished = true;
                s.done.notify_all();
            }
        } finish{*sync};
        sync->fn();
    });
    bool ran;
    {
        std::unique_lock lock(sync->mutex);
        sync->done.wait(lock, [&] { return sync->finished || sync->cancelled || terminated_.load(); });
        ran = sync->finished;
        if (!ran) sync->cancelled = true;
    }
    {
        std::lock_guard lock(mutex_);
        pendingSync_.reset();
    }
    return ran;
}

void TThread::SleepFor(int ms) {
    std::unique_lock lock(mutex_);
    wake_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

}  // namespace tolm
