#pragma once
// The event loop of the GUI thread, as the calls onto that thread
// (Guithread.cpp) use it. Each program has one unit that makes it for its
// widget toolkit: Qtguiloop.cpp (Qt) and Win32guiloop.cpp (Win32 messages).
#include <functional>
#include <memory>

namespace tolm {

class TGuiLoop {
public:
    virtual ~TGuiLoop() = default;
    // From any thread: has the GUI thread run the queued calls soon, from its
    // event loop or from that of a modal box it shows meanwhile.
    virtual void Wake() = 0;
    // On the GUI thread: runs its pending events for at most maxWaitMs.
    virtual void Serve(int maxWaitMs) = 0;
    // On the GUI thread: ends its event loop with the exit code.
    virtual void Quit(int exitCode) = 0;
};

// Made once, on the GUI thread; its loop calls runCalls when woken.
std::unique_ptr<TGuiLoop> MakeGuiLoop(std::function<void()> runCalls);

}  // namespace tolm
