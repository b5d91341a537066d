#include "gui/Guithread.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "toolkit/Messages.h"

namespace tolm {

namespace {
// Calls handed to the GUI thread's Qt event loop. The hand-off goes through a
// standard mutex, so that race checkers see its ordering (Qt's own queues are
// not instrumented), and the thread is woken through an eventfd that its
// event loop watches.
class TGuiCallQueue {
public:
    // Made on the GUI thread (the notifier belongs to that thread's loop).
    TGuiCallQueue() : thread_(std::this_thread::get_id()) {
        fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
            uint64_t count = 0;
            (void)!read(fd_, &count, sizeof count);
            RunPending();
        });
    }

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
        const uint64_t one = 1;
        (void)!write(fd_, &one, sizeof one);
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

private:
    // Runs the calls queued so far, in order. What escapes a call is shown,
    // and the calls after it still run: nothing is thrown into Qt's loop,
    // which would drop the rest.
    void RunPending() {
        std::deque<std::function<void()>> calls;
        {
            std::lock_guard lock(mutex_);
            calls.swap(calls_);
        }
        for (auto& call : calls) {
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
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread::id thread_;
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
// the call being destroyed without having run.
class TGuiCallWait {
public:
    void Finish(std::exception_ptr error) {
        std::lock_guard lock(mutex_);
        if (finished_) return;
        finished_ = true;
        error_ = std::move(error);
        cv_.notify_all();
    }
    void Wait() {
        std::unique_lock lock(mutex_);
        cv_.wait(lock, [this] { return finished_; });
        if (error_) std::rethrow_exception(error_);
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool finished_ = false;
    std::exception_ptr error_;
};

// Owned by the queued call and its copies: when the last goes without the
// call having run (the queue was closed, the call dropped), the waiter is
// released with EGuiThreadClosed.
struct TGuiCallTicket {
    std::shared_ptr<TGuiCallWait> wait = std::make_shared<TGuiCallWait>();
    ~TGuiCallTicket() { wait->Finish(std::make_exception_ptr(EGuiThreadClosed())); }
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
        try {
            fn();
            ticket->wait->Finish(nullptr);
        } catch (...) {
            ticket->wait->Finish(std::current_exception());
        }
    });
    ticket.reset();
    wait->Wait();
}

}  // namespace tolm
