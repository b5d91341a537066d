// The GUI thread's event loop in the Win32 window: woken by a message to a
// message-only window of that thread. The message reaches it from the
// thread's own loop and from the loop of a modal box or dialog it shows.
#include "gui/Guiloop.h"

#include <windows.h>

#include <atomic>

namespace tolm {

namespace {
constexpr UINT kRunCalls = WM_APP + 1;
constexpr const wchar_t* kClassName = L"TolmGuiCalls";

class TWin32GuiLoop : public TGuiLoop {
public:
    explicit TWin32GuiLoop(std::function<void()> runCalls) : runCalls_(std::move(runCalls)) {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &TWin32GuiLoop::WindowProc;
        wc.hInstance = GetModuleHandleW(nullptr);
        wc.lpszClassName = kClassName;
        RegisterClassW(&wc);
        window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
        SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    }

    // One message stands for every call queued until it is handled, so that
    // a transfer's stream of changes never fills the thread's message queue.
    void Wake() override {
        if (woken_.exchange(true)) return;
        // A full queue refuses the message: the next call tries again.
        if (!PostMessageW(window_, kRunCalls, 0, 0)) woken_ = false;
    }

    void Serve(int maxWaitMs) override {
        MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(maxWaitMs), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT) continue;  // the loop it was meant for has ended
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }

    void Quit(int exitCode) override { PostQuitMessage(exitCode); }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == kRunCalls) {
            if (auto* loop = reinterpret_cast<TWin32GuiLoop*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA))) {
                // Cleared first: a call queued while these run wakes the loop again.
                loop->woken_ = false;
                loop->runCalls_();
            }
            return 0;
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    std::function<void()> runCalls_;
    std::atomic<bool> woken_{false};
    HWND window_ = nullptr;
};
}  // namespace

std::unique_ptr<TGuiLoop> MakeGuiLoop(std::function<void()> runCalls) {
    return std::make_unique<TWin32GuiLoop>(std::move(runCalls));
}

}  // namespace tolm
