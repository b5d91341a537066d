#pragma once
// Calls onto the main thread: the thread that runs the form's logic. The
// desktop program marks a thread of its own (the form thread), so that the
// GUI thread never blocks; the command line and the tests mark the process's
// main thread. Before any thread is marked, the main thread is the one that
// created the QCoreApplication.
#include <functional>

namespace tolm {

// Records the calling thread as the main thread and lets it receive posted
// calls through its event loop. A later mark replaces an earlier one.
void MarkMainThread();
// Undoes MarkMainThread on the marked thread (before that thread ends).
void ReleaseMainThread();
bool IsMainThread();

// Queues fn to run on the main thread's event loop and returns at once.
void PostToMainThread(std::function<void()> fn);

// Lets the main thread run pending events (timers, queued calls).
void ProcessMessages();

// Marks an event handler as running on the main thread: an operator press, a
// timer, the delivery of received data. Front ends drop operator input while
// one runs, rather than queueing it behind the handler.
class TEventScope {
public:
    TEventScope();
    ~TEventScope();
    TEventScope(const TEventScope&) = delete;
    TEventScope& operator=(const TEventScope&) = delete;
};
// True while any TEventScope exists (read from any thread).
bool EventHandlerRunning();

}  // namespace tolm
