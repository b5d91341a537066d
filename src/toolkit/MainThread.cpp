#include "toolkit/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QSocketNotifier>
#include <QThread>

#include <sys/eventfd.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

namespace tolm {

namespace {
std::atomic<bool> g_marked{false};
std::thread::id g_mainId;

// Calls handed to the main thread wait here, under a standard mutex, so that
// the hand-off's ordering is visible to race checkers. The main thread is
// woken through an eventfd watched by its event loop: a post shares no memory
// with the main thread but the queue.
std::mutex g_queueMutex;
std::deque<std::function<void()>> g_queue;
std::atomic<int> g_wakeFd{-1};

void RunQueuedCalls() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(g_queueMutex);
        calls.swap(g_queue);
    }
    for (auto& call : calls) call();
}

void InstallWakeup() {
    auto* app = QCoreApplication::instance();
    if (!app || g_wakeFd >= 0) return;
    const int fd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd < 0) return;
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, app);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [fd] {
        uint64_t count = 0;
        (void)!read(fd, &count, sizeof count);
        RunQueuedCalls();
    });
    g_wakeFd = fd;
}
}  // namespace

void MarkMainThread() {
    g_mainId = std::this_thread::get_id();
    g_marked = true;
    InstallWakeup();
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
    if (const int fd = g_wakeFd; fd >= 0) {
        const uint64_t one = 1;
        (void)!write(fd, &one, sizeof one);
    } else {
        // Main thread not marked: wake it through Qt's own queue.
        QMetaObject::invokeMethod(app, &RunQueuedCalls, Qt::QueuedConnection);
    }
}

void ProcessMessages() {
    if (QCoreApplication::instance() && IsMainThread()) QCoreApplication::processEvents();
}

}  // namespace tolm
