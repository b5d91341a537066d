// Test entry point: the process's main thread is the toolkit's main thread,
// whose messages (synchronised calls, posted calls, timers) the tests pump.
#include <gtest/gtest.h>

#include "toolkit/MainThread.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    tolm::MarkMainThread();
    return RUN_ALL_TESTS();
}
