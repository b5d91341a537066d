// The quiet-line rules that decide when the bytes waiting on a port are a
// whole reply, on made-up times; and the look schedule they ask for, played
// against scripted arrivals as a polling thread would follow it.
#include <gtest/gtest.h>

#include <functional>

#include "serial/Arrivalwatch.h"

using namespace tolm;
using namespace std::chrono;

namespace {

using TimePoint = TArrivalWatch::time_point;
const TimePoint T0 = TimePoint(hours(1));
const microseconds kChar{87};  // 115200 baud, 10 bits per character

TSettleRule Stated(int length) { return {length, kChar}; }
TSettleRule Unstated() { return {0, kChar}; }

// Follows the watch's schedule as a polling thread does: looks when bytes
// first show (a poll(2) wake-up) and then at each NextCheck, until complete.
struct Playback {
    int looks = 0;
    uint32_t taken = 0;
    TimePoint completedAt{};
};
Playback Play(const std::function<uint32_t(TimePoint)>& waitingAt, TimePoint firstByte, const TSettleRule& rule,
              TimePoint giveUp) {
    TArrivalWatch watch;
    Playback out;
    TimePoint now = firstByte;
    while (now < giveUp) {
        ++out.looks;
        auto verdict = watch.Observe(waitingAt(now), now, rule);
        if (verdict.Complete) {
            out.taken = watch.Count();
            out.completedAt = now;
            return out;
        }
        if (verdict.NextCheck <= now) {
            ADD_FAILURE() << "the next look is not later than this one";
            return out;
        }
        now = verdict.NextCheck;
    }
    return out;
}

}  // namespace

TEST(ArrivalWatch, StatedLengthIsCompleteAfterTwoQuietCharacters) {
    TArrivalWatch watch;
    auto v = watch.Observe(14, T0, Stated(14));
    EXPECT_FALSE(v.Complete);
    EXPECT_EQ(v.NextCheck, T0 + 2 * kChar);
    EXPECT_FALSE(watch.Observe(14, T0 + kChar, Stated(14)).Complete);
    EXPECT_TRUE(watch.Observe(14, T0 + 2 * kChar, Stated(14)).Complete);

    // More bytes than stated: still one reply, taken once the line is quiet.
    watch.Reset();
    EXPECT_FALSE(watch.Observe(14, T0, Stated(14)).Complete);
    EXPECT_FALSE(watch.Observe(20, T0 + kChar, Stated(14)).Complete);
    EXPECT_FALSE(watch.Observe(20, T0 + 2 * kChar, Stated(14)).Complete);
    EXPECT_TRUE(watch.Observe(20, T0 + 3 * kChar, Stated(14)).Complete);
    EXPECT_EQ(watch.Count(), 20u);

    // The quiet time counts in characters of the port's own speed: 9600 baud.
    const TSettleRule slow{6, microseconds(1042)};
    watch.Reset();
    EXPECT_FALSE(watch.Observe(6, T0, slow).Complete);
    EXPECT_FALSE(watch.Observe(6, T0 + microseconds(2000), slow).Complete);
    EXPECT_TRUE(watch.Observe(6, T0 + microseconds(2084), slow).Complete);
}

TEST(ArrivalWatch, WithoutAStatedLengthTheSettleGapEndsTheReply) {
    for (const TSettleRule& rule : {Unstated(), Stated(14)}) {  // unstated, or fewer bytes than stated
        SCOPED_TRACE(rule.ExpectedLength);
        TArrivalWatch watch;
        EXPECT_FALSE(watch.Observe(6, T0, rule).Complete);
        EXPECT_FALSE(watch.Observe(6, T0 + kSettleGap - microseconds(1), rule).Complete);
        EXPECT_TRUE(watch.Observe(6, T0 + kSettleGap, rule).Complete);
        EXPECT_EQ(watch.Count(), 6u);
    }

    // Pieces closer together than the gap make one reply; the gap counts from the last.
    TArrivalWatch watch;
    EXPECT_FALSE(watch.Observe(5, T0, Unstated()).Complete);
    EXPECT_FALSE(watch.Observe(9, T0 + milliseconds(15), Unstated()).Complete);
    EXPECT_FALSE(watch.Observe(9, T0 + milliseconds(30), Unstated()).Complete);
    EXPECT_TRUE(watch.Observe(9, T0 + milliseconds(35), Unstated()).Complete);
    EXPECT_EQ(watch.Count(), 9u);
}

TEST(ArrivalWatch, ALineThatNeverGoesQuietIsTakenOnePassAfterItsFirstByte) {
    TArrivalWatch watch;
    uint32_t count = 0;
    TimePoint now = T0;
    for (; now < T0 + kLongestSettle; now += milliseconds(1))
        ASSERT_FALSE(watch.Observe(++count, now, Unstated()).Complete) << (now - T0).count();
    EXPECT_TRUE(watch.Observe(++count, now, Unstated()).Complete);
}

TEST(ArrivalWatch, FewerBytesThanBeforeAreNewArrivals) {
    TArrivalWatch watch;
    EXPECT_FALSE(watch.Observe(10, T0, Unstated()).Complete);
    // Read or purged, and new bytes came: the gap and the longest watch start again.
    EXPECT_FALSE(watch.Observe(3, T0 + milliseconds(90), Unstated()).Complete);
    EXPECT_FALSE(watch.Observe(4, T0 + milliseconds(105), Unstated()).Complete);
    EXPECT_FALSE(watch.Observe(4, T0 + milliseconds(124), Unstated()).Complete);
    EXPECT_TRUE(watch.Observe(4, T0 + milliseconds(125), Unstated()).Complete);

    // Nothing waiting: nothing to decide, wait for data.
    auto v = watch.Observe(0, T0 + milliseconds(200), Stated(6));
    EXPECT_FALSE(v.Complete);
    EXPECT_EQ(v.NextCheck, TimePoint::max());
    EXPECT_EQ(watch.Count(), 0u);
}

TEST(ArrivalWatch, ScheduleWakesWithinCharactersOfAReplyAtLineSpeed) {
    // 14 bytes arriving one per character time from T0.
    auto atLineSpeed = [](TimePoint t) {
        return static_cast<uint32_t>(std::min<int64_t>(14, 1 + (t - T0) / kChar));
    };
    Playback p = Play(atLineSpeed, T0, Stated(14), T0 + seconds(1));
    const TimePoint lastByte = T0 + 13 * kChar;
    EXPECT_EQ(p.taken, 14u);
    EXPECT_GE(p.completedAt, lastByte + 2 * kChar);
    EXPECT_LE(p.completedAt, lastByte + 4 * kChar);
    EXPECT_LE(p.looks, 20);

    // Without a stated length the same reply waits for the settle gap, and few looks.
    p = Play(atLineSpeed, T0, Unstated(), T0 + seconds(1));
    EXPECT_EQ(p.taken, 14u);
    EXPECT_GE(p.completedAt, lastByte + kSettleGap);
    EXPECT_LE(p.completedAt, lastByte + kSettleGap + milliseconds(1));
    EXPECT_LE(p.looks, 30);
}

TEST(ArrivalWatch, ScheduleKeepsAReplySplitByAnAdapterWhole) {
    // A USB adapter hands over 10 bytes, and the other 4 one packet later.
    const auto packetLatency = milliseconds(16);
    auto inTwoPackets = [&](TimePoint t) -> uint32_t { return t < T0 + packetLatency ? 10 : 14; };
    Playback p = Play(inTwoPackets, T0, Stated(14), T0 + seconds(1));
    EXPECT_EQ(p.taken, 14u);
    EXPECT_GE(p.completedAt, T0 + packetLatency + 2 * kChar);
    // Seen within one look interval of its arrival.
    EXPECT_LE(p.completedAt, T0 + packetLatency + kSettleSampleStep + 2 * kChar);
    EXPECT_LE(p.looks, 30);

    // A short answer (6 bytes where 14 were stated) is taken after the gap.
    p = Play([](TimePoint) { return 6u; }, T0, Stated(14), T0 + seconds(1));
    EXPECT_EQ(p.taken, 6u);
    EXPECT_EQ(p.completedAt, T0 + kSettleGap);
    EXPECT_LE(p.looks, 15);
}
