// The Win32 serial device on a COM port of Wine that leads to tolm-devsim's
// first-generation scanner (tests/windows/with-device.sh makes the link and
// names the port in TOLM_TEST_PORT).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "platform/Portaccess.h"
#include "platform/Win32serialdevice.h"

#include <windows.h>

using namespace tolm;
using namespace std::chrono;

namespace {

std::string TestPort() {
    const char* port = std::getenv("TOLM_TEST_PORT");
    return port ? port : "";
}

// Opened and set up as the port driver does.
bool OpenLikeTheDriver(Win32SerialDevice& device, const std::string& path) {
    if (!device.Open(path) || !device.SetQueueSizes(5120, 5120)) return false;
    device.Purge(PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
    TCommTimeouts timeouts;
    timeouts.ReadIntervalTimeout = 100;
    timeouts.WriteTotalTimeoutMultiplier = 5;
    timeouts.WriteTotalTimeoutConstant = 500;
    return device.SetLineState(TLineSettings{}, false) && device.SetTimeouts(timeouts);
}

// The scanner's identification request, and the length of its answer.
const uint8_t kInfoRequest[] = {0x7E, 0x7E, 0x01, 0x10, 0x11, 0x7E};
constexpr uint32_t kInfoReplyLength = 24;

}  // namespace

TEST(Win32SerialDevice, AReplyWakesTheWaitOnItsEventAndIsReadWhole) {
    Win32SerialDevice device;
    ASSERT_TRUE(OpenLikeTheDriver(device, TestPort())) << "cannot open " << TestPort();
    const HANDLE input = LongToHandle(device.PollDescriptor());
    TCommStatus status;
    ASSERT_TRUE(device.QueryStatus(status));
    EXPECT_EQ(status.BytesWaiting, 0u);
    EXPECT_EQ(WaitForSingleObject(input, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "signalled with nothing waiting";

    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(device.WriteSome(kInfoRequest, sizeof kInfoRequest), static_cast<int>(sizeof kInfoRequest));
        const auto sent = steady_clock::now();
        // Liveness only: the reply takes about 2 ms; a wait that never wakes runs to 5 s.
        ASSERT_EQ(WaitForSingleObject(input, 5000), static_cast<DWORD>(WAIT_OBJECT_0)) << "round " << round;
        EXPECT_LT(steady_clock::now() - sent, seconds(1)) << "round " << round;
        while (device.QueryStatus(status) && status.BytesWaiting < kInfoReplyLength &&
               steady_clock::now() - sent < seconds(2))
            std::this_thread::sleep_for(milliseconds(2));
        ASSERT_EQ(status.BytesWaiting, kInfoReplyLength) << "round " << round;
        uint8_t reply[64] = {};
        ASSERT_EQ(device.Read(reply, static_cast<int>(status.BytesWaiting)), static_cast<int>(kInfoReplyLength));
        EXPECT_EQ(reply[0], 0x7E);
        EXPECT_EQ(reply[3], 0x10);
        EXPECT_EQ(reply[kInfoReplyLength - 1], 0x7E);
        // Read and looked at again: nothing waits, and the event says so.
        ASSERT_TRUE(device.QueryStatus(status));
        EXPECT_EQ(status.BytesWaiting, 0u);
        EXPECT_EQ(WaitForSingleObject(input, 0), static_cast<DWORD>(WAIT_TIMEOUT)) << "round " << round;
    }
}

TEST(Win32SerialDevice, APortHeldByAnotherOpenIsBusyAndShowsSo) {
    Win32SerialDevice first, second;
    ASSERT_TRUE(first.Open(TestPort()));
    EXPECT_EQ(ProbePortAccess(TestPort()).State, TPortState::InUse);
    EXPECT_FALSE(second.Open(TestPort()));
    EXPECT_EQ(second.OpenError(), EBUSY);
    EXPECT_NE(PortAccessHint(TestPort(), second.OpenError()).find("in use by another program"), std::string::npos);
    first.Close();
    EXPECT_EQ(ProbePortAccess(TestPort()).State, TPortState::Free);
    EXPECT_TRUE(second.Open(TestPort()));
}

TEST(Win32SerialDevice, AMissingPortIsAbsent) {
    Win32SerialDevice device;
    EXPECT_FALSE(device.Open("\\\\.\\COM254"));
    EXPECT_EQ(device.OpenError(), ENOENT);
    EXPECT_EQ(ProbePortAccess("\\\\.\\COM254").State, TPortState::Absent);
}
