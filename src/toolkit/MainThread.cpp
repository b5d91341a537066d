#include "toolkit/MainThread.h"

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>

#include "toolkit/Messageloop.h"

namespace tolm {

namespace {
// Set while the program's static objects are made, on the thread that starts it.
const std::thread::id g_startThread = std::this_thread::get_id();
std::atomic<std::thread::id> g_mainId{g_startThread};
std::atomic<int> g_eventsRunning{0};
// Serialises marking and releasing.
std::mutex g_markMutex;
}  // namespace

TMessageLoop& MainLoop() {
    static TMessageLoop loop;
    return loop;
}

void MarkMainThread() {
    {
        std::lock_guard lock(g_markMutex);
        g_mainId = std::this_thread::get_id();
    }
    MainLoop().DropPosted();
}

void ReleaseMainThread() {
    {
        std::lock_guard lock(g_markMutex);
        if (g_mainId.load() != std::this_thread::get_id() || g_mainId.load() == g_startThread) return;
        g_mainId = g_startThread;
    }
    MainLoop().DropPosted();
}

bool IsMainThread() { return std::this_thread::get_id() == g_mainId.load(); }

void PostToMainThread(std::function<void()> fn) { MainLoop().Post(std::move(fn)); }

void ProcessMessages() {
    if (IsMainThread()) MainLoop().RunDue();
}

void WaitMessages(int maxWaitMs) {
    const auto wait = std::chrono::milliseconds(maxWaitMs > 0 ? maxWaitMs : 0);
    if (IsMainThread())
        MainLoop().WaitAndRun(wait);
    else
        std::this_thread::sleep_for(wait);
}

TEventScope::TEventScope() { ++g_eventsRunning; }
TEventScope::~TEventScope() { --g_eventsRunning; }
bool EventHandlerRunning() { return g_eventsRunning.load() > 0; }

}  // namespace tolm
