#include "gui/Guithread.h"

#include <condition_variable>
#include <cstdio>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "gui/Guiloop.h"
#include "toolkit/Messages.h"

namespace tolm {

namespace {
// Calls handed to the GUI thread. The hand-off goes through a standard
// mutex, so that race checkers see its ordering (a toolkit's own queues are
// not instrumented), and the thread's event loop is woken to run them.
class TGuiCallQueue {
public:
    // Made on the GUI thread, whose event loop runs the calls.
    TGuiCallQueue() : thread_(std::this_thread::get_id()), loop_(MakeGuiLoop([this] { RunPending(); })) {}

    // A call posted while the queue is closed is dropped at once.
    void Post(std::function<void()> fn) {
        {
            std::lock_guard lock(mutex_);
            if (!closed_) {
                calls_.push_back(std::move(fn));
                fn = nullptr;
            }
        }
        if (fn) return;  // destroyed here, outside the lock
        loop_->Wake();
    }

    void Close() {
        std::deque<std::function<void()>> dropped;
        std::lock_guard lock(mutex_);
        closed_ = true;
        dropped.swap(calls_);
        // Destroyed after the lock is released (declared before the guard):
        // a dropped call releases its waiter.
    }

    void Open() {
        std::lock_guard lock(mutex_);
        closed_ = false;
    }

    std::thread::id Thread() const { return thread_; }
    TGuiLoop& Loop() { return *loop_; }

private:
    // Runs the queued calls one at a time, in order. A call that shows a
    // modal box lets the calls after it run from the box's loop, still in
    // order. What escapes a call is shown, and the calls after it still run:
    // nothing is thrown into the toolkit's loop, which would drop the rest.
    void RunPending() {
        for (;;) {
            std::function<void()> call;
            {
                std::lock_guard lock(mutex_);
                if (calls_.empty()) return;
                call = std::move(calls_.front());
                calls_.pop_front();
            }
            try {
                call();
            } catch (const std::exception& e) {
                ShowFailure(e.what());
            } catch (...) {
                ShowFailure("Unknown exception");
            }
        }
    }

    static void ShowFailure(const char* text) noexcept {
        try {
            ShowMessage(text);
        } catch (...) {
            std::fprintf(stderr, "%s\n", text);
        }
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
    std::thread::id thread_;
    std::unique_ptr<TGuiLoop> loop_;
    bool closed_ = false;
};

// Made once on the GUI thread and kept for the life of the process, so that
// no thread ever posts to a queue that is gone.
std::once_flag g_once;
TGuiCallQueue* g_queue = nullptr;
}  // namespace

void InitGuiThread() {
    std::call_once(g_once, [] { g_queue = new TGuiCallQueue(); });
    if (g_queue->Thread() == std::this_thread::get_id()) g_queue->Open();
}

void CloseGuiThread() {
    if (g_queue) g_queue->Close();
}

bool IsGuiThread() { return !g_queue || g_queue->Thread() == std::this_thread::get_id(); }

void PostToGuiThread(std::function<void()> fn) {
    if (IsGuiThread())
        fn();
    else
        g_queue->Post(std::move(fn));
}

namespace {
// The waiting side of RunOnGuiThread: finished once, by the call's end or by
// the call being destroyed without having run. The waiting thread takes the
// call's exception for itself, and makes the one for a call that never ran:
// an exception object is then never released by one thread while another
// still reads it.
class TGuiCallWait {
public:
    void Finish(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        error_ = std::move(error);
        cv_.notify_all();
    }
    void FinishUnrun() {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        unrun_ = true;
        cv_.notify_all();
    }
    void Wait() {
        std::exception_ptr error;
        {
            std::unique_lock lock(mutex_);
            cv_.wait(lock, [this] { return finished_; });
            if (unrun_) throw EGuiThreadClosed();
            error = std::move(error_);
        }
        if (error) std::rethrow_exception(error);
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
    bool unrun_ = false;
    std::exception_ptr error_;
};

// Owned by the queued call and its copies: when the last goes without the
// call having run (the queue was closed, the call dropped), the waiter is
// released with EGuiThreadClosed.
struct TGuiCallTicket {
    std::shared_ptr<TGuiCallWait> wait = std::make_shared<TGuiCallWait>();
    ~TGuiCallTicket() { wait->FinishUnrun(); }
};
}  // namespace

void RunOnGuiThread(const std::function<void()>& fn) {
    if (IsGuiThread()) {
        fn();
        return;
    }
    auto ticket = std::make_shared<TGuiCallTicket>();
    const std::shared_ptr<TGuiCallWait> wait = ticket->wait;
    g_queue->Post([ticket, &fn] {
        // Handed over once the catch has ended: from then on only the
        // waiting thread holds the exception.
        std::exception_ptr error;
        try {
            fn();
        } catch (...) {
            error = std::current_exception();
        }
        ticket->wait->Finish(std::move(error));
    });
    ticket.reset();
    wait->Wait();
}

void ServeGuiThread(int maxWaitMs) {
    if (g_queue && IsGuiThread()) g_queue->Loop().Serve(maxWaitMs);
}

void QuitGuiThread(int exitCode) {
    PostToGuiThread([exitCode] {
        if (g_queue) g_queue->Loop().Quit(exitCode);
    });
}

}  // namespace tolm
