// How the multi-port component's threads wake: a waiting exchange as soon as
// its reply is complete, unsolicited data once the line is quiet, and every
// thread at once on open, close, stop and destruction.
//
// The quiet-line rules run on a stepped clock here: time moves only when the
// test says, and the test waits for the component to have looked at the port
// (counted status queries) before and after each step, so no outcome depends
// on how fast this machine is. Wake-ups on real ptys are checked against a
// pass period stretched to seconds, with bounds far from it.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

#include "Fakeserialdevice.h"
#include "TestSupport.h"
#include "serial/Arrivalwatch.h"
#include "serial/Tolmserialcomm.h"

using namespace tolm;
using namespace tolm::test;
using namespace std::chrono;

namespace {

TByteBuffer Bytes(const std::string& s) { return TByteBuffer::FromText(s); }

// A clock that moves only when told to; safe to read from any thread.
class SteppedClock : public IClock {
public:
    time_point Now() override { return time_point(nanoseconds(ns_.load())); }
    void SleepFor(duration) override {}
    void Advance(microseconds d) { ns_ += duration_cast<nanoseconds>(d).count(); }

private:
    std::atomic<int64_t> ns_{duration_cast<nanoseconds>(hours(1)).count()};
};

struct SteppedFixture : ::testing::Test {
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    SteppedClock clock;
    ScopedRecordingSink messages;
    TTolmSerialComm comm;
    std::vector<TReceivePacket> received;

    void SetUp() override {
        line->MakePollable();
        comm.SetPollingMode(TPollingMode::Events);
        comm.SetSettleClock(&clock);
        comm.SetDeviceFactory(FakeFactory(line));
        comm.OnReceiveData = [this](TReceivePacket* p) { received.push_back(*p); };
        ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    }
    // Waits until the component has queried the port's status after `since`
    // queries, i.e. has looked at the line as it is now.
    bool WaitForLook(int since, int timeoutMs = 10000) {
        auto end = steady_clock::now() + milliseconds(timeoutMs);
        while (line->StatusQueries() <= since) {
            if (steady_clock::now() > end) return false;
            std::this_thread::sleep_for(microseconds(200));
        }
        return true;
    }
    // Moves the clock and waits for a look that sees the new time.
    void Step(microseconds d) {
        clock.Advance(d);
        ASSERT_TRUE(WaitForLook(line->StatusQueries()));
    }
    // Runs fn on a helper thread once the request has been written.
    std::thread AfterRequest(const std::string& request, std::function<void()> fn) {
        return std::thread([this, request, fn] {
            auto end = steady_clock::now() + seconds(10);
            while (line->Written().find(request) == std::string::npos && steady_clock::now() < end)
                std::this_thread::sleep_for(microseconds(200));
            fn();
        });
    }
};

}  // namespace

TEST_F(SteppedFixture, StatedLengthWakesTheExchangeTwoCharactersAfterTheReply) {
    const std::string ack("\x7e\x7e\x00\x06\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x7e", 14);
    line->replyOnWrite = ack;
    auto device = AfterRequest("REQ", [&] {
        ASSERT_TRUE(WaitForLook(line->StatusQueries()));
        // 1 ms: far more than two characters at 115200 baud, far less than the
        // settle gap. The clock goes no further, so only the stated length can
        // end this wait before its time-out.
        clock.Advance(milliseconds(1));
    });
    TByteBuffer reply = comm.SendByteReceiveByte(1, Bytes("REQ"), 10000, 14);
    device.join();
    EXPECT_EQ(reply, Bytes(ack));
}

TEST_F(SteppedFixture, UnstatedOrShortRepliesWaitForTheSettleGap) {
    for (int stated : {0, 14}) {
        SCOPED_TRACE(stated);
        line->replyOnWrite = "NAK123";  // 6 bytes, fewer than stated
        std::atomic<bool> returned{false};
        std::atomic<bool> earlyWake{false};
        auto device = AfterRequest("Q" + std::to_string(stated), [&] {
            ASSERT_TRUE(WaitForLook(line->StatusQueries()));
            Step(milliseconds(1));
            Step(kSettleGap - milliseconds(2));
            Step(microseconds(500));  // still 0.5 ms short of the gap
            std::this_thread::sleep_for(milliseconds(100));  // time for a wrongly woken caller to return
            earlyWake = returned.load();
            clock.Advance(milliseconds(1));
        });
        TByteBuffer reply = comm.SendByteReceiveByte(1, Bytes("Q" + std::to_string(stated)), 10000, stated);
        returned = true;
        device.join();
        EXPECT_FALSE(earlyWake);
        EXPECT_EQ(reply, Bytes("NAK123"));
    }
}

TEST_F(SteppedFixture, ReplyInPiecesCloserThanTheSettleGapIsOneReply) {
    auto device = AfterRequest("REQ", [&] {
        ASSERT_TRUE(WaitForLook(line->FeedAndCount("first half, ")));
        Step(milliseconds(15));
        ASSERT_TRUE(WaitForLook(line->FeedAndCount("second half")));
        Step(milliseconds(15));  // 30 ms after the first piece, 15 after the second
        clock.Advance(milliseconds(10));
    });
    TByteBuffer reply = comm.SendByteReceiveByte(1, Bytes("REQ"), 10000);
    device.join();
    EXPECT_EQ(reply, Bytes("first half, second half"));
}

TEST_F(SteppedFixture, UnsolicitedDataIsQueuedByTheQuietGap) {
    ASSERT_TRUE(WaitForLook(line->FeedAndCount("abc")));
    Step(milliseconds(10));
    ASSERT_TRUE(WaitForLook(line->FeedAndCount("def")));
    Step(milliseconds(15));
    EXPECT_EQ(comm.Packet_Count(), 0);  // 25 ms after "abc", only 15 after "def"
    Step(milliseconds(5));
    EXPECT_EQ(comm.Packet_Count(), 1);

    ASSERT_TRUE(WaitForLook(line->FeedAndCount("ghi")));
    Step(kSettleGap);
    EXPECT_EQ(comm.Packet_Count(), 2);
    ASSERT_TRUE(PumpUntil([&] { return received.size() == 2; }, 10000));
    EXPECT_EQ(received[0].Text, "abcdef");
    EXPECT_EQ(received[0].Sequence, 0);
    EXPECT_EQ(received[1].Text, "ghi");
}

TEST_F(SteppedFixture, AStreamThatNeverPausesIsQueuedInPassSizedChunks) {
    std::string all;
    for (int i = 0; i < 30; ++i) {  // a byte every 5 ms for 150 ms
        std::string b(1, static_cast<char>('a' + i % 26));
        all += b;
        ASSERT_TRUE(WaitForLook(line->FeedAndCount(b)));
        Step(milliseconds(5));
    }
    Step(kSettleGap);
    ASSERT_TRUE(PumpUntil([&] { return received.size() >= 2; }, 10000));
    std::string got;
    for (auto& p : received) got += p.Text;
    EXPECT_EQ(got, all);
    EXPECT_EQ(received[0].Text.size(), 20u);  // taken 100 ms after its first byte
}

TEST_F(SteppedFixture, AHungUpLineDoesNotKeepTheThreadsBusy) {
    line->HangUp();
    int before = line->StatusQueries();
    std::this_thread::sleep_for(milliseconds(500));
    // Every pass looks once; a thread spinning on the hung-up descriptor would look thousands of times.
    EXPECT_LT(line->StatusQueries() - before, 100);
    EXPECT_EQ(comm.CloseComPort(1), 0);
}

// ------------------------------------------------------------- on real ptys

namespace {

struct LongPassFixture : ::testing::Test {
    static constexpr int kLongPassMs = 6000;
    static constexpr auto kWellBefore = milliseconds(kLongPassMs / 2);
    TempDir dir;
    PtyPair pty;
    PtyPair second;
    ScopedRecordingSink messages;
    TTolmSerialComm comm;
    std::vector<TReceivePacket> received;

    void SetUp() override {
        LinkPort(dir, 1, pty.SlavePath());
        LinkPort(dir, 2, second.SlavePath());
        comm.SetPollingMode(TPollingMode::Events);
        comm.SetPassPeriodMs(kLongPassMs);
        comm.OnReceiveData = [this](TReceivePacket* p) { received.push_back(*p); };
    }
};

}  // namespace

TEST_F(LongPassFixture, RepliesWakeTheExchangeLongBeforeAPass) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    const std::string answer("\x7e\x7e\x00\x06\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x7e", 14);
    for (int stated : {14, 0}) {
        SCOPED_TRACE(stated);
        std::thread device([&] {
            pty.Read(5000, 3);
            pty.Write(answer);
        });
        auto start = steady_clock::now();
        TByteBuffer reply = comm.SendByteReceiveByte(1, Bytes("REQ"), 10000, stated);
        auto took = steady_clock::now() - start;
        device.join();
        EXPECT_EQ(reply, Bytes(answer));
        EXPECT_LT(took, kWellBefore);
    }
}

TEST_F(LongPassFixture, OpeningAPortWakesThePollingAtOnce) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    std::this_thread::sleep_for(milliseconds(50));  // the threads are in their long wait
    ASSERT_EQ(comm.OpenComPort(2, "115200,n,8,1"), 0);
    auto start = steady_clock::now();
    second.Write("hello from 2");
    ASSERT_TRUE(PumpUntil([&] { return !received.empty(); }, kLongPassMs * 3));
    EXPECT_LT(steady_clock::now() - start, kWellBefore);
    EXPECT_EQ(received[0].ComPort, 2);
    EXPECT_EQ(received[0].Text, "hello from 2");
}

TEST_F(LongPassFixture, ClosingAndDestroyingStopTheThreadsAtOnce) {
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    ASSERT_EQ(comm.OpenComPort(2, "115200,n,8,1"), 0);
    std::this_thread::sleep_for(milliseconds(50));
    auto start = steady_clock::now();
    EXPECT_EQ(comm.CloseComPort(2), 0);
    EXPECT_EQ(comm.CloseComPort(1), 0);
    EXPECT_LT(steady_clock::now() - start, kWellBefore);
    EXPECT_FALSE(comm.PollingThreadsRunning());

    {
        TTolmSerialComm local;
        local.SetPollingMode(TPollingMode::Events);
        local.SetPassPeriodMs(kLongPassMs);
        local.OnReceiveData = [](TReceivePacket*) { FAIL() << "delivered after destruction"; };
        ASSERT_EQ(local.OpenComPort(1, "115200,n,8,1"), 0);
        ASSERT_EQ(local.OpenComPort(2, "115200,n,8,1"), 0);
        pty.Write("pending");
        std::this_thread::sleep_for(milliseconds(50));
        start = steady_clock::now();
    }
    EXPECT_LT(steady_clock::now() - start, kWellBefore);
    Pump(100);
    EXPECT_EQ(comm.GetSerialComIsOpen(1), 0);
    EXPECT_EQ(comm.GetSerialComIsOpen(2), 0);
}

TEST(PollingMode, SleepingPassesAreSelectableByTheEnvironment) {
    const char* before = std::getenv("TOLM_SERIAL_POLLING");
    std::string saved = before ? before : "";
    setenv("TOLM_SERIAL_POLLING", "sleep", 1);
    EXPECT_EQ(DefaultPollingMode(), TPollingMode::Sleep);
    {
        TTolmSerialComm comm;
        EXPECT_EQ(comm.PollingMode(), TPollingMode::Sleep);
    }
    setenv("TOLM_SERIAL_POLLING", "events", 1);
    EXPECT_EQ(DefaultPollingMode(), TPollingMode::Events);
    unsetenv("TOLM_SERIAL_POLLING");
    EXPECT_EQ(DefaultPollingMode(), TPollingMode::Events);
    if (before) setenv("TOLM_SERIAL_POLLING", saved.c_str(), 1);
}

TEST(PollingMode, SleepingPassesStillExchangeAndDeliver) {
    TempDir dir;
    PtyPair pty;
    LinkPort(dir, 1, pty.SlavePath());
    TTolmSerialComm comm;
    comm.SetPollingMode(TPollingMode::Sleep);
    std::vector<std::string> received;
    comm.OnReceiveData = [&](TReceivePacket* p) { received.push_back(p->Text); };
    ASSERT_EQ(comm.OpenComPort(1, "115200,n,8,1"), 0);
    std::thread device([&] {
        pty.Read(5000, 3);
        pty.Write("ACK");
    });
    EXPECT_EQ(comm.SendByteReceiveByte(1, Bytes("REQ"), 5000, 3), Bytes("ACK"));
    device.join();
    pty.Write("later");
    EXPECT_TRUE(PumpUntil([&] { return !received.empty(); }, 5000));
    EXPECT_EQ(received, std::vector<std::string>{"later"});
    EXPECT_EQ(comm.CloseComPort(1), 0);
    EXPECT_FALSE(comm.PollingThreadsRunning());
}
