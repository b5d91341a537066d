#include "toolkit/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace tolm {

namespace {
std::atomic<bool> g_marked{false};
std::thread::id g_mainId;

// Calls handed to the main thread wait here, under a standard mutex, so that
// the hand-off's ordering is visible to race checkers; Qt's event queue only
// carries a wake-up that holds no data of ours.
std::mutex g_queueMutex;
std::deque<std::function<void()>> g_queue;

void RunQueuedCalls() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(g_queueMutex);
        calls.swap(g_queue);
    }
    for (auto& call : calls) call();
}
}  // namespace

void MarkMainThread() {
    g_mainId = std::this_thread::get_id();
    g_marked = true;
}

bool IsMainThread() {
    if (auto* app = QCoreApplication::instance()) return QThread::currentThread() == app->thread();
    return g_marked && std::this_thread::get_id() == g_mainId;
}

void PostToMainThread(std::function<void()> fn) {
    auto* app = QCoreApplication::instance();
    if (!app) {
        // No event loop (a plain tool without an application object): run here.
        fn();
        return;
    }
    {
        std::lock_guard lock(g_queueMutex);
        g_queue.push_back(std::move(fn));
    }
    QMetaObject::invokeMethod(app, &RunQueuedCalls, Qt::QueuedConnection);
}

void ProcessMessages() {
    if (QCoreApplication::instance() && IsMainThread()) QCoreApplication::processEvents();
}

}  // namespace tolm
