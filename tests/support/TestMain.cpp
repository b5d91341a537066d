// Test entry point: a QCoreApplication on the main thread so that synchronised
// calls, queued hand-offs and timers have an event loop.
#include <gtest/gtest.h>

#include <QCoreApplication>

#include "toolkit/MainThread.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Tolm Upgrade");
    tolm::MarkMainThread();
    return RUN_ALL_TESTS();
}
