#pragma once
// Calls onto the main (UI) thread. The main thread is the one that created the
// QCoreApplication; without one, the thread that first called MarkMainThread().
#include <functional>

namespace tolm {

// Records the calling thread as the main thread (done by the application entry points).
void MarkMainThread();
bool IsMainThread();

// Queues fn to run on the main thread's event loop and returns at once.
void PostToMainThread(std::function<void()> fn);

// Lets the main thread run pending events (timers, queued calls, repaints).
void ProcessMessages();

}  // namespace tolm
