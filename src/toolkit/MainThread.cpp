#include "toolkit/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "toolkit/Callqueue.h"

namespace tolm {

namespace {
std::atomic<bool> g_marked{false};
std::atomic<std::thread::id> g_mainId;
std::atomic<int> g_eventsRunning{0};

// The marked thread's call queue. Held under the mutex while posting, so that
// a thread that releases its mark never frees a queue another thread posts to.
std::mutex g_queueMutex;
std::unique_ptr<TCallQueue> g_queue;
// A queue replaced from another thread cannot be destroyed there (its
// notifier belongs to its own thread); it is kept and no longer posted to.
std::vector<std::unique_ptr<TCallQueue>> g_retired;
}  // namespace

void MarkMainThread() {
    auto queue = QCoreApplication::instance() ? std::make_unique<TCallQueue>() : nullptr;
    std::lock_guard lock(g_queueMutex);
    if (g_queue) {
        if (g_queue->Thread() == std::this_thread::get_id())
            g_queue.reset();
        else
            g_retired.push_back(std::move(g_queue));
    }
    g_queue = std::move(queue);
    g_mainId = std::this_thread::get_id();
    g_marked = true;
}

void ReleaseMainThread() {
    std::unique_ptr<TCallQueue> queue;
    {
        std::lock_guard lock(g_queueMutex);
        if (!g_marked || g_mainId.load() != std::this_thread::get_id()) return;
        queue = std::move(g_queue);
        g_marked = false;
    }
    queue.reset();
}

bool IsMainThread() {
    if (g_marked) return std::this_thread::get_id() == g_mainId.load();
    if (auto* app = QCoreApplication::instance()) return QThread::currentThread() == app->thread();
    return false;
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
        if (g_queue) {
            g_queue->Post(std::move(fn));
            return;
        }
    }
    // No thread marked: the application's own thread runs it.
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void ProcessMessages() {
    if (QCoreApplication::instance() && IsMainThread()) QCoreApplication::processEvents();
}

TEventScope::TEventScope() { ++g_eventsRunning; }
TEventScope::~TEventScope() { --g_eventsRunning; }
bool EventHandlerRunning() { return g_eventsRunning.load() > 0; }

}  // namespace tolm
