#pragma once
// Calls onto the GUI thread, the thread that owns the widgets. The form's
// logic runs on a thread of its own (Formthread.h); what it changes reaches
// the widgets through these calls, and what must be shown modally (message
// boxes, the file dialog) runs here while the form thread waits.
#include <functional>

namespace tolm {

// Makes the calling thread the GUI thread (once, before any other call here;
// the thread needs a Qt event loop). Later calls do nothing.
void InitGuiThread();
// True on the GUI thread, and everywhere while none is set up.
bool IsGuiThread();
// Queues fn for the GUI thread's event loop (runs it at once on the GUI thread
// itself, or while none is set up).
void PostToGuiThread(std::function<void()> fn);
// Runs fn on the GUI thread and waits until it is done; an exception it
// raises comes back to the caller.
void RunOnGuiThread(const std::function<void()>& fn);

// On the GUI thread: runs its pending events for at most maxWaitMs, so that a
// thread it waits for can still have a box shown. Elsewhere it does nothing.
void ServeGuiThread(int maxWaitMs);
// Ends the GUI thread's event loop with the exit code (from any thread).
void QuitGuiThread(int exitCode);

}  // namespace tolm
