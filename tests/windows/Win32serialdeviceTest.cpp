// The Win32 serial device on a COM port of Wine that leads to tolm-devsim's
// first-generation scanner (tests/windows/with-device.sh makes the link and
// names the port in TOLM_TEST_PORT). The tests run over both lines: the plain
// pseudo-terminal, on which Wine ends every WaitCommEvent at once, and one
// with modem lines (TOLM_TEST_LINE=pending, Modemline.cpp), on which the wait
// stays pending as on a real driver.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
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

bool PendingLine() {
    const char* line = std::getenv("TOLM_TEST_LINE");
    return line && std::string(line) == "pending";
}

// Whether a WaitCommEvent on the port is still pending after a while with
// nothing arriving, as on a real driver; the wait is then ended.
bool WaitStaysPending(const std::string& path) {
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) return false;
    OVERLAPPED ov{};
    ov.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    DWORD mask = 0;
    SetCommMask(port, EV_RXCHAR);
    const bool pending = !WaitCommEvent(port, &mask, &ov) && GetLastError() == ERROR_IO_PENDING &&
                         WaitForSingleObject(ov.hEvent, 300) == WAIT_TIMEOUT;
    SetCommMask(port, 0);
    WaitForSingleObject(ov.hEvent, 2000);
    CloseHandle(port);
    CloseHandle(ov.hEvent);
    return pending;
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

TEST(Win32SerialDevice, TheLineKeepsAWaitPendingOnlyWhenItHasModemLines) {
    // Otherwise the tests would run the other path than the one they name.
    EXPECT_EQ(WaitStaysPending(TestPort()), PendingLine()) << "TOLM_TEST_LINE names the wrong kind of line";
}

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

TEST(Win32SerialDevice, ClosingEndsTheWatchersWaitWithinItsBound) {
    auto device = std::make_unique<Win32SerialDevice>();
    ASSERT_TRUE(OpenLikeTheDriver(*device, TestPort()));
    // The watcher's wait is armed and, on a line with modem lines, pending.
    std::this_thread::sleep_for(milliseconds(300));
    const auto start = steady_clock::now();
    auto closed = std::async(std::launch::async, [&device] { device->Close(); });
    if (closed.wait_for(seconds(10)) != std::future_status::ready) {
        // A close that never returns cannot be waited for: the test ends here.
        std::fprintf(stderr, "FAILED: Close() did not return within 10 s with a wait pending\n");
        std::fflush(stderr);
        TerminateProcess(GetCurrentProcess(), 1);
    }
    EXPECT_LT(steady_clock::now() - start, seconds(3)) << "the close waited out a bound";
    EXPECT_FALSE(device->IsOpen());
    // The port is free again at once.
    Win32SerialDevice again;
    EXPECT_TRUE(again.Open(TestPort()));
}
