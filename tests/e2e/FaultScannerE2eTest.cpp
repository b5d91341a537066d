// Scanner upgrades over faulty lines: tolm-upgrade-cli against emulated
// scanners whose replies are lost, damaged, late, split, doubled or followed
// by noise, and whose line goes away. What the retries absorb must still give
// the device the whole file; what they cannot must fail plainly and promptly.
//
// Replies of a first-generation upgrade with kSparse: 1 identification,
// 2 kernel check, 3 start, 4-146 the 143 blocks sent, 147 end.
#include "FaultE2eFixture.h"

using namespace tolm::e2e;

namespace {
const std::string kSparse = "blank=1-150";
}  // namespace

TEST_F(FaultE2eTest, ScannerAbsorbsSingleLostOrDamagedReplies) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto dev = StartFaulty("scanner", 3, {},
                           {"drop:3", "drop:20", "corrupt:40", "length:60", "length:80:by=2", "twice:100",
                            "drop:147"});
    auto r = Cli({"upgrade", "--port", "3", fw});
    ExpectPass(r);
    dev->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144)) << "the scanner's flash differs from the file";
    EXPECT_TRUE(Fired(FaultLog(3), {"reply 3: drop", "reply 20: drop", "reply 40: corrupt", "reply 60: length 5",
                                    "reply 80: length 8", "reply 100: twice", "reply 147: drop"}));
}

TEST_F(FaultE2eTest, ScannerAbsorbsLateSplitAndNoisyReplies) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    // One split well inside the serial component's settle gap, one past it;
    // a reply past the time-out; noise after two replies.
    auto dev = StartFaulty("scanner", 3, {},
                           {"split:20:ms=2", "split:40:ms=60", "delay:60", "noise:80", "noise:100:bytes=40:ms=5"});
    auto r = Cli({"upgrade", "--port", "3", fw});
    ExpectPass(r);
    dev->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144)) << "the scanner's flash differs from the file";
    EXPECT_TRUE(Fired(FaultLog(3), {"reply 20: split", "reply 40: split", "reply 60: delay", "reply 80: noise",
                                    "reply 100: noise"}));
}

TEST_F(FaultE2eTest, ThreeLostRepliesInARowFailTheScannerUpgrade) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    {
        auto dev = StartFaulty("scanner", 3, {}, {"drop:3-5"});
        ExpectFailure(TimedCli({"upgrade", "--port", "3", fw}), "Upgrade Start Error");
    }
    {
        auto dev = StartFaulty("scanner", 4, {}, {"drop:50-52"});
        ExpectFailure(TimedCli({"upgrade", "--port", "4", fw}), "Upgrade Error");
    }
    {
        auto dev = StartFaulty("scanner", 5, {}, {"drop:147-149"});
        ExpectFailure(TimedCli({"upgrade", "--port", "5", fw}), "Upgrade End Error");
    }
}

TEST_F(FaultE2eTest, VanishedScannerEndsTheRunWithinSeconds) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto dev = StartFaulty("scanner", 3, {}, {"vanish:50"});
    ExpectFailure(TimedCli({"upgrade", "--port", "3", fw}), "Upgrade Error");
    EXPECT_FALSE(LinkExists(3)) << "the device's link should have gone with it";
    // Nothing is left holding the port: a second run finds no port at all.
    auto again = TimedCli({"upgrade", "--port", "3", fw});
    EXPECT_EQ(again.exitCode, 3) << again.err;
}

TEST_F(FaultE2eTest, ScannerThatComesBackIsUpgradedByTheNextRun) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto dev = StartFaulty("scanner", 3, {}, {"vanish:50:back=300"});
    ExpectFailure(TimedCli({"upgrade", "--port", "3", fw}), "Upgrade Error");
    ASSERT_TRUE(tolm::test::PumpUntil([&] { return LinkExists(3); }, 10000)) << "the device did not come back";
    auto r = Cli({"upgrade", "--port", "3", fw});
    ExpectPass(r);
    dev->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144)) << "the flash after the second run differs from the file";
}

// Two-image file on a scanner in its docking station. Replies: 1-147 the
// scanner image as above (query, identification, start, blocks, end), then
// the docking station's from 148 (query, identification, start, blocks, end).
TEST_F(FaultE2eTest, TidPairAbsorbsLostRepliesAndNoiseOnBothImages) {
    auto fw = Generate("tid-fw", "pair.bin", {"images=2", kSparse, "dock-blank=1-150"});
    auto dev = StartFaulty("tid-pair", 6, {}, {"drop:30", "noise:60", "drop:200", "corrupt:250", "noise:270"});
    auto r = Cli({"upgrade", "--port", "6", fw});
    ExpectPass(r);
    dev->Stop();
    const std::string image = Image(6);
    ASSERT_EQ(image.size(), 2u * 262144);
    EXPECT_TRUE(image.substr(0, 262144) == Decoded(fw, 0, 262144)) << "scanner image differs";
    EXPECT_TRUE(image.substr(262144) == Decoded(fw, 263168, 262144)) << "dock image differs";
    EXPECT_TRUE(Fired(FaultLog(6), {"reply 30: drop", "reply 60: noise", "reply 200: drop", "reply 250: corrupt",
                                    "reply 270: noise"}));
}

TEST_F(FaultE2eTest, TidPairVanishingDuringTheDockImageFailsWithoutPass) {
    auto fw = Generate("tid-fw", "pair.bin", {"images=2", kSparse, "dock-blank=1-150"});
    auto dev = StartFaulty("tid-pair", 6, {}, {"vanish:200"});
    auto r = TimedCli({"upgrade", "--port", "6", fw});
    ExpectFailure(r, "Upgrade Error");
}

TEST_F(FaultE2eTest, FaultOptionsAreListedAndBadOnesRefusedWithAReason) {
    auto list = tolm::test::Run(TOLM_DEVSIM, {"list"}, 10000);
    EXPECT_EQ(list.exitCode, 0);
    for (const char* kind : {"drop", "corrupt", "length", "split", "delay", "twice", "noise", "vanish"})
        EXPECT_NE(list.out.find(std::string("  ") + kind + " "), std::string::npos) << kind;
    for (const std::string bad : {"smash:3", "drop", "drop:0", "drop:5-2", "drop:rate=2", "delay:3:ms=x",
                                  "drop:3:back=10", "noise:2:bytes=0"}) {
        auto r = tolm::test::Run(TOLM_DEVSIM, {"run", "scanner", "--link", dir.File("COM3"), "--fault", bad}, 10000);
        EXPECT_EQ(r.exitCode, 2) << bad;
        EXPECT_NE(r.err.find("fault"), std::string::npos) << bad << ": " << r.err;
        EXPECT_FALSE(LinkExists(3)) << bad << " should be refused before any line is made";
    }
}
