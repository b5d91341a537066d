#include "gui/Guithread.h"

#include <condition_variable>
#include <exception>
#include <mutex>

#include "toolkit/Callqueue.h"

namespace tolm {

namespace {
// Made once on the GUI thread and kept for the life of the process, so that
// no thread ever posts to a queue that is gone.
std::once_flag g_once;
TCallQueue* g_queue = nullptr;
}  // namespace

void InitGuiThread() {
    std::call_once(g_once, [] { g_queue = new TCallQueue(); });
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

}  // namespace tolm
