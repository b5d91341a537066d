#pragma once
// What the window's tests run while they wait on the GUI thread: Qt's events
// (the widgets, the hand-off to this thread) and the toolkit's messages, when
// this thread is also the toolkit's main thread.
#include <QCoreApplication>

#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "toolkit/MainThread.h"

namespace tolm::test {

inline void InstallGuiEventPump() {
    SetEventPump([] {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
}

}  // namespace tolm::test
