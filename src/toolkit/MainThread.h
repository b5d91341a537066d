#pragma once
// Calls onto the main thread: the thread that runs the form's logic. The
// desktop program marks a thread of its own (the form thread), so that the
// GUI thread never blocks; the command line and the tests mark the process's
// main thread. Until a thread is marked, the main thread is the one that
// started the program.
//
// The main thread runs its loop (Messageloop.h) itself: posted calls and
// timers run only while it processes messages (ProcessMessages, WaitMessages).
#include <functional>

namespace tolm {

class TMessageLoop;

// Records the calling thread as the main thread. A later mark replaces an
// earlier one; calls posted for the thread marked before are dropped.
void MarkMainThread();
// Undoes MarkMainThread on the marked thread (before that thread ends): the
// thread that started the program is the main thread again, and the calls
// still queued are dropped.
void ReleaseMainThread();
bool IsMainThread();

// Queues fn to run on the main thread and returns at once.
void PostToMainThread(std::function<void()> fn);

// Lets the main thread run what is due (posted calls, timers) without
// waiting. Elsewhere it does nothing.
void ProcessMessages();
// On the main thread: waits until a call is posted or a timer comes due, at
// most maxWaitMs, and runs what is due. Elsewhere it sleeps maxWaitMs.
void WaitMessages(int maxWaitMs);

// The main thread's loop, whose timers TTimer uses.
TMessageLoop& MainLoop();

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
