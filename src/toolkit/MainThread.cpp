#include "toolkit/MainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

#include <atomic>
#include <thread>

namespace tolm {

namespace {
std::atomic<bool> g_marked{false};
std::thread::id g_mainId;
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
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

void ProcessMessages() {
    if (QCoreApplication::instance() && IsMainThread()) QCoreApplication::processEvents();
}

}  // namespace tolm
