// The multi-port component over pseudo-terminal pairs: the test holds the
// master side as the "device" and links COMn to the slave side.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "TestSupport.h"
#include "serial/Tolmserialcomm.h"

using namespace tolm;
using namespace tolm::test;
using namespace std::chrono;

namespace {

const std::string kNotOpen = "COM Port is not opened yet!";

TByteBuffer Bytes(const std::string& s) { return TByteBuffer::FromText(s); }

// Collects what OnReceiveData hands out, on the main thread.
struct Received {
    std::vector<TReceivePacket> packets;
    std::string All() const {
        std::string all;
        for (auto& p : packets) all += p.Text;
        return all;
    }
};

struct PtyFixture : ::testing::Test {
    TempDir dir;
    PtyPair pty;
    ScopedRecordingSink messages;
    TTolmSerialComm comm;
    Received received;

    void SetUp() override {
        LinkPort(dir, 1, pty.SlavePath());
        comm.OnReceiveData = [this](TReceivePacket* p) { received.packets.push_back(*p); };
    }
    // Waits (without running the main thread's events) for the polling thread
    // to have queued n records.
    bool WaitForQueued(int n, int timeoutMs = 5000) {
        auto end = steady_clock::now() + milliseconds(timeoutMs);
        while (comm.Packet_Count() < n) {
            if (steady_clock::now() > end) return false;
            std::this_thread::sleep_for(milliseconds(10));
        }
        return true;
    }
};

// Opens the slave side itself (a second descriptor on the same line) to look
// at the line settings the component applied.
speed_t LineSpeed(const std::string& path) {
    int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return B0;
    termios tio{};
    tcgetattr(fd, &tio);
    close(fd);
    return cfgetospeed(&tio);
}

}  // namespace

TEST_F(PtyFixture, OpenTwiceKeepsTheFirstAndCloseTwiceReportsNoDriver) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    EXPECT_TRUE(comm.HasDriver(1));
    EXPECT_EQ(comm.OpenComPort(1, "115200,n,8,1"), -3);
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 1);
    EXPECT_EQ(comm.SendByte(1, Bytes("ok")), 0);
    EXPECT_EQ(pty.Read(2000, 2), "ok");
    EXPECT_EQ(comm.CloseComPort(1), 0);
    EXPECT_EQ(comm.CloseComPort(1), -1);
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 0);  // free again
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(PtyFixture, PortsThatCannotBeOpenedLeaveNothingBehind) {
    dir.Write("plain-file", "not a tty");
    LinkPort(dir, 2, dir.File("plain-file"));
    LinkPort(dir, 3, "/dev/null");
    LinkPort(dir, 4, dir.File("no-such-device"));
    for (int port : {2, 3, 4, 250}) {  // 250: no entry, and no /dev/ttyS249
        SCOPED_TRACE(port);
        EXPECT_EQ(comm.OpenComPort(port, "115200,n,8,1"), -2);
        EXPECT_FALSE(comm.HasDriver(port));
        EXPECT_EQ(comm.CloseComPort(port), -1);
        EXPECT_EQ(comm.GetSerialComIsOpen(port), 2);
        EXPECT_EQ(comm.SendByte(port, Bytes("x")), -1);
        EXPECT_EQ(comm.SendByte(port, Bytes("x"), 5), -1) << "no driver comes before the count";
        EXPECT_TRUE(comm.SendByteReceiveByte(port, Bytes("x"), 1000).IsEmpty());
        EXPECT_FALSE(comm.GetRs232Info(port, "CTS"));
    }
    EXPECT_FALSE(comm.PollingThreadsRunning());
    EXPECT_EQ(dir.Read("plain-file"), "not a tty");
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(PtyFixture, PortHeldElsewhereIsRefused) {
    // Another component of this process.
    TTolmSerialComm other;
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    EXPECT_EQ(other.OpenComPort(1, "115200,n,8,1"), -2);
    EXPECT_EQ(other.GetSerialComIsOpen(1), 2);
    EXPECT_FALSE(other.PollingThreadsRunning());
    ASSERT_EQ(comm.CloseComPort(1), 0);

    // Another process holding the device.
    int ready[2], release[2];
    ASSERT_EQ(pipe(ready), 0);
    ASSERT_EQ(pipe(release), 0);
    std::string path = pty.SlavePath();
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(release[1]);  // so that the parent's close reaches the read below
        close(ready[0]);
        int fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        char c = (fd >= 0 && flock(fd, LOCK_EX) == 0) ? 'y' : 'n';
        (void)!write(ready[1], &c, 1);
        (void)!read(release[0], &c, 1);
        _exit(0);
    }
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    ASSERT_EQ(c, 'y');
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 2);
    EXPECT_EQ(comm.OpenComPort(1, "115200,n,8,1"), -2);
    EXPECT_FALSE(comm.HasDriver(1));
    close(release[1]);
    int status = 0;
    waitpid(child, &status, 0);
    for (int fd : {ready[0], ready[1], release[0]}) close(fd);
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 0);
    EXPECT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
}

TEST_F(PtyFixture, PollingThreadsRunExactlyWhileAPortIsOpen) {
    PtyPair second;
    LinkPort(dir, 2, second.SlavePath());
    EXPECT_FALSE(comm.PollingThreadsRunning());
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    EXPECT_TRUE(comm.PollingThreadsRunning());
    ASSERT_EQ(comm.OpenComPort(2, "38400,n,8,1"), 0);
    EXPECT_EQ(comm.CloseComPort(1), 0);
    EXPECT_TRUE(comm.PollingThreadsRunning());
    EXPECT_EQ(comm.CloseComPort(2), 0);
    EXPECT_FALSE(comm.PollingThreadsRunning());

    // Opening again starts them again, and they deliver.
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    EXPECT_TRUE(comm.PollingThreadsRunning());
    pty.Write("again");
    EXPECT_TRUE(PumpUntil([&] { return received.All() == "again"; }, 5000));
}

TEST_F(PtyFixture, SendAndWaitWithoutAnswerTimesOutEmpty) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    auto start = steady_clock::now();
    auto reply = comm.SendByteReceiveByte(1, Bytes("\x7e\x7e\x01\x7e"), 300);
    auto took = steady_clock::now() - start;
    EXPECT_TRUE(reply.IsEmpty());
    EXPECT_GE(took, milliseconds(300));
    EXPECT_LT(took, seconds(5));
    EXPECT_EQ(pty.Read(2000, 4), "\x7e\x7e\x01\x7e");
    EXPECT_TRUE(comm.ReceiveByte(1, 200).IsEmpty());
    EXPECT_TRUE(comm.SendByteReceiveByte(1, Bytes("q"), 0).IsEmpty());
}

TEST_F(PtyFixture, SendAndWaitReturnsTheReply) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    const std::string request("\x7e\x7e\x00\x10\x7e", 5);
    const std::string answer("\x7e\x7e\x00\x06\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x7e", 14);
    std::string seen;
    std::thread device([&] {
        seen = pty.Read(3000, request.size());
        pty.Write(answer);
    });
    auto reply = comm.SendByteReceiveByte(1, Bytes(request), 3000);
    device.join();
    EXPECT_EQ(seen, request);
    EXPECT_EQ(reply, Bytes(answer));  // NUL bytes included
    EXPECT_EQ(reply.Length(), 14);
    Pump(300);
    EXPECT_TRUE(received.packets.empty());  // the reply was the caller's, not queued
}

TEST_F(PtyFixture, LateReplyReachesOnReceiveData) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    std::thread device([&] {
        pty.Read(3000, 3);
        std::this_thread::sleep_for(milliseconds(500));
        pty.Write("late reply");
    });
    auto reply = comm.SendByteReceiveByte(1, Bytes("req"), 200);
    EXPECT_TRUE(reply.IsEmpty());
    EXPECT_TRUE(PumpUntil([&] { return received.All() == "late reply"; }, 5000));
    device.join();
    ASSERT_FALSE(received.packets.empty());
    EXPECT_EQ(received.packets[0].ComPort, 1);
    EXPECT_EQ(received.packets[0].Settings, "115200,n,8,1");
    EXPECT_EQ(received.packets[0].Sequence, 0);
    EXPECT_EQ(comm.Packet_Count(), 0);
}

TEST_F(PtyFixture, ChunksQueuedWhileTheMainThreadIsBusyArriveInOrder) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    // The main thread runs no events here, as when it is busy elsewhere.
    pty.Write(std::string("first\0", 6));
    ASSERT_TRUE(WaitForQueued(1));
    pty.Write("second");
    ASSERT_TRUE(WaitForQueued(2));
    EXPECT_TRUE(PumpUntil([&] { return received.packets.size() == 2; }, 5000));
    ASSERT_EQ(received.packets.size(), 2u);
    EXPECT_EQ(received.packets[0].Text, std::string("first\0", 6));
    EXPECT_EQ(received.packets[0].Length, 6);
    EXPECT_EQ(received.packets[0].Bytes, Bytes(std::string("first\0", 6)));
    EXPECT_EQ(received.packets[0].Sequence, 0);
    EXPECT_EQ(received.packets[1].Text, "second");
    EXPECT_EQ(received.packets[1].Sequence, 1);
    EXPECT_EQ(comm.Packet_Count(), 0);
}

TEST_F(PtyFixture, LongBurstArrivesWholeAndInOrder) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    std::string burst(4000, '\0');
    for (size_t i = 0; i < burst.size(); ++i) burst[i] = static_cast<char>((i * 31) & 0xff);
    pty.Write(burst);
    EXPECT_TRUE(PumpUntil([&] { return received.All().size() >= burst.size(); }, 5000));
    EXPECT_EQ(received.All(), burst);
}

TEST_F(PtyFixture, NewSettingsKeepThePortOpenAndMalformedOnesCloseIt) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    EXPECT_EQ(LineSpeed(pty.SlavePath()), B115200);
    EXPECT_EQ(comm.ComSettings(1, "9600,n,8,1"), 1);
    EXPECT_EQ(LineSpeed(pty.SlavePath()), B9600);
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 1);
    EXPECT_EQ(comm.SendByte(1, Bytes("still")), 0);
    EXPECT_EQ(pty.Read(2000, 5), "still");

    EXPECT_EQ(comm.ComSettings(1, "9600;n;8;1"), 1);
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 0);  // the device was let go
    EXPECT_EQ(comm.SendByte(1, Bytes("gone")), -3);
    EXPECT_EQ(messages->Texts(), std::vector<std::string>{kNotOpen});
    EXPECT_EQ(comm.CloseComPort(1), 0);
    EXPECT_FALSE(comm.PollingThreadsRunning());

    // A malformed string at open fails the open.
    EXPECT_EQ(comm.OpenComPort(1, "115200,n,8,1,x"), -2);
    EXPECT_FALSE(comm.HasDriver(1));
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 0);
}

TEST_F(PtyFixture, WriteHeldUpPastItsTimeOutFails) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    comm.SetRs232Info(1, "SETXOFF");  // output held as if the device sent XOFF
    auto start = steady_clock::now();
    EXPECT_EQ(comm.SendByte(1, TByteBuffer(100, 0x55)), -3);
    EXPECT_GE(steady_clock::now() - start, milliseconds(1000));  // 500 ms + 5 ms x 100
    EXPECT_EQ(comm.SendString(1, "abc"), -3);
    comm.SetRs232Info(1, "SETXON");
    EXPECT_EQ(comm.SendString(1, "resumed"), 0);
    EXPECT_EQ(pty.Read(2000, 7), "resumed");  // nothing of the failed writes went out
    // A pty has no modem lines: they read as off, and the actions do no harm.
    comm.SetRs232Info(1, "SETDTR");
    comm.SetRs232Info(1, "SETBREAK");
    comm.SetRs232Info(1, "CLRBREAK");
    EXPECT_FALSE(comm.GetRs232Info(1, "CTS"));
    EXPECT_EQ(comm.ErrorWord(), 0u);
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(PtyFixture, DeviceThatDisappearsGivesResultCodesNotHangs) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    pty.CloseMaster();
    Pump(300);  // polling passes meet the hung-up line
    auto start = steady_clock::now();
    EXPECT_EQ(comm.SendByte(1, Bytes("hello")), -3);
    EXPECT_EQ(comm.SendString(1, "hello"), -3);
    EXPECT_TRUE(comm.SendByteReceiveByte(1, Bytes("hello"), 1000).IsEmpty());
    EXPECT_TRUE(comm.ReceiveByte(1, 200).IsEmpty());
    EXPECT_LT(steady_clock::now() - start, seconds(5));
    EXPECT_TRUE(received.packets.empty());
    EXPECT_EQ(comm.CloseComPort(1), 0);
    EXPECT_FALSE(comm.PollingThreadsRunning());
}

TEST_F(PtyFixture, DestroyingWithOpenPortsAndPendingDataStopsEverything) {
    PtyPair second;
    LinkPort(dir, 2, second.SlavePath());
    {
        TTolmSerialComm local;
        local.OnReceiveData = [](TReceivePacket*) { FAIL() << "delivered after destruction"; };
        ASSERT_EQ(local.OpenComPort(1, "115200,n,8,1"), 0);
        ASSERT_EQ(local.OpenComPort(2, "115200,n,8,1"), 0);
        pty.Write("pending");
        second.Write("pending");
        auto end = steady_clock::now() + seconds(5);
        while (local.Packet_Count() < 2 && steady_clock::now() < end) std::this_thread::sleep_for(milliseconds(10));
    }
    Pump(300);  // a delivery that was asked for must not run now
    // Both devices are free again.
    TTolmSerialComm again;
    EXPECT_EQ(again.GetSerialComIsOpen(1), 0);
    EXPECT_EQ(again.GetSerialComIsOpen(2), 0);
}
