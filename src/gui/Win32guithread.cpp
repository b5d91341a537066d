// Calls onto the GUI thread of the Win32 window: a queue under a standard
// mutex, and a message-only window of the GUI thread whose message wakes it.
// The calls run from its message loop, and also from the loop of a modal box
// or dialog that the GUI thread shows meanwhile, so model changes keep
// reaching the widgets while a box is open.
#include "gui/Guithread.h"

#include <windows.h>

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>

#include "toolkit/Messages.h"

namespace tolm {

namespace {

constexpr UINT kRunCalls = WM_APP + 1;
constexpr const wchar_t* kClassName = L"TolmGuiCalls";

class TGuiCallQueue {
public:
    // Made on the GUI thread, which owns the message-only window.
    TGuiCallQueue() : thread_(GetCurrentThreadId()) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &TGuiCallQueue::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    void Post(std::function<void()> fn) {
        bool wake = false;
        {
            std::lock_guard lock(mutex_);
            calls_.push_back(std::move(fn));
            wake = !woken_;
            woken_ = true;
        }
        // A full message queue refuses the wake-up: the next call tries again.
        if (wake && !PostMessageW(window_, kRunCalls, 0, 0)) {
            std::lock_guard lock(mutex_);
            woken_ = false;
        }
    }

    DWORD Thread() const { return thread_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kRunCalls) {
            auto* queue = reinterpret_cast<TGuiCallQueue*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
            if (queue) queue->RunPending();
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    // Runs the calls one at a time, in order: a call that shows a modal box
    // lets the calls after it run from the box's loop, still in order. What
    // escapes a call is shown, and the calls after it still run.
    void RunPending() {
        {
            std::lock_guard lock(mutex_);
            woken_ = false;
        }
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
                ShowMessage(e.what());
            } catch (...) {
                ShowMessage("Unknown exception");
            }
        }
    }

    std::mutex mutex_;
    std::deque<std::function<void()>> calls_;
    bool woken_ = false;
    HWND window_ = nullptr;
    DWORD thread_;
};

// Made once on the GUI thread and kept for the life of the process, so that
// no thread ever posts to a queue that is gone.
std::once_flag g_once;
TGuiCallQueue* g_queue = nullptr;
}  // namespace

void InitGuiThread() {
    std::call_once(g_once, [] { g_queue = new TGuiCallQueue(); });
}

bool IsGuiThread() { return !g_queue || g_queue->Thread() == GetCurrentThreadId(); }

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
    if (!IsGuiThread()) return;
    MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(maxWaitMs), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) continue;  // the loop it was meant for has ended
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void QuitGuiThread(int exitCode) {
    PostToGuiThread([exitCode] { PostQuitMessage(exitCode); });
}

}  // namespace tolm
