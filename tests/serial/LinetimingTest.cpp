// Write deadlines and the start of a reply time-out, on a fake device and a
// fake clock so the arithmetic is exact.
#include <gtest/gtest.h>

#include "Fakeserialdevice.h"
#include "serial/Linetiming.h"

using namespace tolm;
using namespace tolm::test;
using namespace std::chrono;

namespace {

struct WriteFixture : ::testing::Test {
    FakeClock clock;
    std::shared_ptr<FakeLine> line = std::make_shared<FakeLine>();
    FakeSerialDevice device{line};
    TLineSettings n81{115200, TParity::None, 8, TStopBits::One};

    void SetUp() override {
        line->clock = &clock;
        line->open = true;
    }
    TWriteOutcome Write(const std::string& bytes, const TLineSettings& settings) {
        return WriteUntilDrained(device, clock, reinterpret_cast<const uint8_t*>(bytes.data()),
                                 static_cast<int>(bytes.size()), settings);
    }
};

}  // namespace

TEST(LineTiming, WriteTimeoutAndLineTime) {
    EXPECT_EQ(WriteTimeout(0), milliseconds(500));
    EXPECT_EQ(WriteTimeout(14), milliseconds(570));
    EXPECT_EQ(WriteTimeout(1036), milliseconds(5680));

    // 8N1 is 10 bits a character: 14 bytes at 115200 take 1215.3 us, rounded up.
    EXPECT_EQ(LineTime(14, {115200, TParity::None, 8, TStopBits::One}), microseconds(1216));
    EXPECT_EQ(LineTime(96, {9600, TParity::None, 8, TStopBits::One}), microseconds(100000));
    // 7E2 is 11 bits; 5N1.5 is 7.5 bits.
    EXPECT_EQ(LineTime(12, {1200, TParity::Even, 7, TStopBits::Two}), microseconds(110000));
    EXPECT_EQ(LineTime(16, {1200, TParity::None, 5, TStopBits::OneAndHalf}), microseconds(100000));
    EXPECT_EQ(LineTime(0, {9600, TParity::None, 8, TStopBits::One}), microseconds(0));
}

TEST_F(WriteFixture, EarlyDrainCountsAsLeftOnlyAfterTheLineTime) {
    // A pty reports an empty output queue at once; the request still needs
    // 100 ms on a 9600 line, so its reply time-out must not start earlier.
    auto out = Write(std::string(96, 'a'), {9600, TParity::None, 8, TStopBits::One});
    EXPECT_TRUE(out.Complete);
    EXPECT_EQ(out.Written, 96);
    EXPECT_EQ(out.Began, clock.Start());
    EXPECT_EQ(out.LeftPort - out.Began, milliseconds(100));
    EXPECT_EQ(clock.Elapsed(), milliseconds(0));  // the write itself did not wait for it
    EXPECT_EQ(line->Written(), std::string(96, 'a'));
}

TEST_F(WriteFixture, LateDrainIsWaitedForAndMarksTheDeparture) {
    line->drainAt = clock.Start() + milliseconds(300);
    auto out = Write(std::string(14, 'b'), n81);
    EXPECT_TRUE(out.Complete);
    EXPECT_EQ(out.Written, 14);
    EXPECT_GE(clock.Elapsed(), milliseconds(300));
    EXPECT_LT(clock.Elapsed(), milliseconds(310));
    EXPECT_EQ(out.LeftPort, clock.Now());
}

TEST_F(WriteFixture, DepartureOfALongBlockIsNoticedPromptly) {
    // A 1035-byte block leaving at 115200 baud, one byte every 87 us: the
    // last one is gone at 90.045 ms. Looking again at the rest's line time
    // notices that within a fraction of a millisecond, not a 5 ms step late.
    line->drainPerByte = microseconds(87);
    auto out = Write(std::string(1035, 'b'), n81);
    EXPECT_TRUE(out.Complete);
    EXPECT_GE(clock.Now() - clock.Start(), microseconds(90045));
    EXPECT_LE(clock.Now() - clock.Start(), microseconds(90300));
    EXPECT_EQ(out.LeftPort, clock.Now());
}

TEST_F(WriteFixture, QueueThatNeverDrainsIsCutShortAtTheWriteTimeout) {
    line->drainAt = IClock::time_point::max();  // CTS held off, say
    auto out = Write(std::string(100, 'c'), n81);
    EXPECT_FALSE(out.Complete);
    EXPECT_EQ(out.Written, 0);  // all 100 were still queued
    EXPECT_EQ(clock.Elapsed(), milliseconds(1000));
    // What was still queued is discarded so it cannot go out after the failure.
    ASSERT_FALSE(line->purges.empty());
    EXPECT_EQ(line->purges.back(), uint32_t(PURGE_TXCLEAR));
    EXPECT_EQ(line->queued, 0);
}

TEST_F(WriteFixture, FullOutputQueueIsCutShortAtTheWriteTimeout) {
    line->acceptLimit = 40;  // the queue takes 40 bytes and then nothing more
    auto out = Write(std::string(60, 'd'), n81);
    EXPECT_FALSE(out.Complete);
    EXPECT_EQ(out.Written, 40);  // these drained; the rest never got in
    EXPECT_EQ(clock.Elapsed(), milliseconds(800));
}

TEST_F(WriteFixture, WriteErrorFailsAtOnce) {
    line->writeFails = true;
    auto out = Write("xyz", n81);
    EXPECT_FALSE(out.Complete);
    EXPECT_EQ(out.Written, 0);
    EXPECT_EQ(clock.Elapsed(), milliseconds(0));
}

TEST_F(WriteFixture, DeviceThatCannotTellItsQueueCountsAsDrained) {
    line->outputQueueKnown = false;
    auto out = Write(std::string(10, 'e'), n81);
    EXPECT_TRUE(out.Complete);
    EXPECT_EQ(out.LeftPort - out.Began, microseconds(869));
}

TEST(LineTiming, ReplyWaitStartsWhenTheRequestHasLeft) {
    auto t0 = steady_clock::time_point(hours(2));
    // Request still on the wire for another 80 ms: the wait covers that too.
    EXPECT_EQ(ReplyWait(t0, t0 + milliseconds(80), 1000), milliseconds(1080));
    // Request left 30 ms ago (the caller was busy): the time-out counts from now.
    EXPECT_EQ(ReplyWait(t0, t0 - milliseconds(30), 1000), milliseconds(1000));
    EXPECT_EQ(ReplyWait(t0, t0, 250), milliseconds(250));
    // A time-out of 0 never waits, not even for the line time.
    EXPECT_EQ(ReplyWait(t0, t0 + milliseconds(80), 0), milliseconds(0));
    EXPECT_EQ(ReplyWait(t0, t0 + microseconds(1216), 100), milliseconds(102));
}
