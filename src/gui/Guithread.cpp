#include "gui/Guithread.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <condition_variable>
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

    void Post(std::function<void()> fn) {
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(fn));
        }
        const uint64_t one = 1;
        (void)!write(fd_, &one, sizeof one);
    }

    std::thread::id Thread() const { return thread_; }

private:
    // Runs the calls queued so far, in order. What escapes a call is shown,
    // and the calls after it still run: nothing is thrown into Qt's loop.
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
                ShowMessage(e.what());
            } catch (...) {
                ShowMessage("Unknown exception");
            }
        }
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
    std::thread::id thread_;
};

// Made once on the GUI thread and kept for the life of the process, so that
// no thread ever posts to a queue that is gone.
std::once_flag g_once;
TGuiCallQueue* g_queue = nullptr;
}  // namespace

void InitGuiThread() {
    std::call_once(g_once, [] { g_queue = new TGuiCallQueue(); });
}

bool IsGuiThread() { return !g_queue || g_queue->Thread() == std::this_thread::get_id(); }

void PostToGuiThread(std::function<void()> fn) {
    if (IsGuiThread())
        fn();
    else
        g_queue->Post(std::move(fn));
}

void RunOnGuiThread(const std::function<void()>& fn) {
    if (IsGuiThread()) {
        fn();
        return;
    }
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool finished = false;
        std::exception_ptr error;
    };
    auto done = std::make_shared<Done>();
    g_queue->Post([done, &fn] {
        try {
            fn();
        } catch (...) {
            done->error = std::current_exception();
        }
        std::lock_guard lock(done->mutex);
        done->finished = true;
        done->cv.notify_all();
    });
    std::unique_lock lock(done->mutex);
    done->cv.wait(lock, [&] { return done->finished; });
    if (done->error) std::rethrow_exception(done->error);
}

void ServeGuiThread(int maxWaitMs) {
    if (IsGuiThread()) QCoreApplication::processEvents(QEventLoop::AllEvents, maxWaitMs);
}

void QuitGuiThread(int exitCode) {
    PostToGuiThread([exitCode] { QCoreApplication::exit(exitCode); });
}

}  // namespace tolm
