#pragma once
// Thread class with a stop request, priorities and a synchronised call on the
// main thread. A stop request also ends the wait of a synchronised call, so a
// main thread that stops and joins a thread never deadlocks with it, even from
// inside that call.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tolm {

enum class TThreadPriority { tpIdle, tpLowest, tpLower, tpNormal, tpHigher, tpHighest, tpTimeCritical };

class TThread {
public:
    TThread();
    virtual ~TThread();  // requests stop and joins
    TThread(const TThread&) = delete;
    TThread& operator=(const TThread&) = delete;

    void Start();
    // Asks the loop to end and wakes SleepFor and a waiting Synchronize. It
    // never waits: a synchronised call that has not started is cancelled, one
    // already running on the main thread runs to its end.
    void Terminate();
    bool Terminated() const { return terminated_.load(); }
    // Joins the thread (never call from the thread itself).
    void WaitFor();
    bool Running() const { return running_.load(); }

    // Applied when the thread starts (and at once if already running); where
    // Linux does not allow a priority (no real-time rights) the thread keeps its own.
    void SetPriority(TThreadPriority priority);
    TThreadPriority Priority() const { return priority_; }

protected:
    virtual void Execute() = 0;
    // Runs fn on the main thread while this thread waits; true when fn ran to
    // its end. A stop request ends the wait at once: fn then never starts, or,
    // when it had started, goes on running on the main thread after this
    // returns false. fn must therefore not rely on anything the stop frees;
    // code that can be closed from inside fn guards itself.
    bool Synchronize(std::function<void()> fn);
    // Sleeps up to ms, returning early on a stop request.
    void SleepFor(int ms);

private:
    void ApplyPriority();
    struct SyncState;
    std::thread thread_;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> running_{false};
    TThreadPriority priority_ = TThreadPriority::tpNormal;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::shared_ptr<SyncState> pendingSync_;
};

}  // namespace tolm
