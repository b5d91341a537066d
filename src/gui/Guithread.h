#pragma once
// Calls onto the GUI thread, the thread that owns the widgets. The form's
// logic runs on a thread of its own (Formthread.h); what it changes reaches
// the widgets through these calls, and what must be shown modally (message
// boxes, the file dialog) runs here while the form thread waits. The calls
// run one at a time, in order, from the toolkit's event loop, and from that
// of a modal box or dialog the GUI thread shows meanwhile.
#include <functional>

#include "toolkit/Exception.h"

namespace tolm {

// What a thread waiting in RunOnGuiThread gets when its call will never run:
// the GUI thread serves no more calls, or the call was dropped on its way.
class EGuiThreadClosed : public Exception {
public:
    EGuiThreadClosed() : Exception("The window is closed: nothing more can be shown in it") {}
};

// Makes the calling thread the GUI thread (once, before any other call here;
// the thread needs the event loop of the program's widget toolkit, which
// Guiloop.h wakes). Later calls from that thread open it again after
// CloseGuiThread; from other threads they do nothing.
void InitGuiThread();
// The GUI thread runs no more calls (its event loop has ended): the calls
// queued and those posted later are dropped, and a thread waiting for one in
// RunOnGuiThread gets EGuiThreadClosed instead of waiting forever.
void CloseGuiThread();
// True on the GUI thread, and everywhere while none is set up.
bool IsGuiThread();
// Queues fn for the GUI thread's event loop (runs it at once on the GUI thread
// itself, or while none is set up).
void PostToGuiThread(std::function<void()> fn);
// Runs fn on the GUI thread and waits until it is done; an exception it
// raises comes back to the caller. A call that will not run (see above)
// raises EGuiThreadClosed.
void RunOnGuiThread(const std::function<void()>& fn);

// On the GUI thread: runs its pending events for at most maxWaitMs, so that a
// thread it waits for can still have a box shown. Elsewhere it does nothing.
void ServeGuiThread(int maxWaitMs);
// Ends the GUI thread's event loop with the exit code (from any thread).
void QuitGuiThread(int exitCode);

}  // namespace tolm
