// Scanner upgrades end to end: tolm-upgrade-cli against emulated scanners and
// docking stations on pseudo-terminals.
#include "E2eFixture.h"

using namespace tolm::e2e;

namespace {
// Blank blocks are skipped (but every fourth and the last fifteen), which
// keeps these runs short; the flash must still equal the file.
const std::string kSparse = "blank=1-150";
}  // namespace

TEST_F(E2eTest, FirstGenerationScannerIsUpgraded) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto dev = StartDevice("scanner", 3, {"model=LB1Y"});
    auto r = Cli({"upgrade", "--port", "3", "--log", dir.File("log"), fw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.LastOutLine(), "Upgrade PASS");
    EXPECT_NE(r.err.find("progress  90%"), std::string::npos) << "progress goes to stderr: " << r.err;
    EXPECT_EQ(dev->Stop(), 0);
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144)) << "the scanner's flash differs from the file";
}

TEST_F(E2eTest, TidOneImageGoesToTheScannerOrTheDockThatAnswers) {
    auto fw = Generate("tid-fw", "tw2y.bin", {"images=1", kSparse});
    {
        auto dev = StartDevice("tid-scanner", 4, {});
        auto r = Cli({"upgrade", "--port", "COM4", fw});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.LastOutLine(), "Upgrade PASS");
        dev->Stop();
        EXPECT_TRUE(Image(4) == Decoded(fw, 0, 262144)) << "scanner flash differs";
    }
    {
        auto dev = StartDevice("tid-dock", 5, {});
        auto r = Cli({"upgrade", "--port", "com5", fw});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.LastOutLine(), "Upgrade PASS");
        dev->Stop();
        EXPECT_TRUE(Image(5) == Decoded(fw, 0, 262144)) << "dock flash differs";
    }
}

TEST_F(E2eTest, TidTwoImageFileUpgradesScannerThenDock) {
    auto fw = Generate("tid-fw", "pair.bin", {"images=2", kSparse, "dock-blank=1-150"});
    auto dev = StartDevice("tid-pair", 6, {});
    auto r = Cli({"upgrade", "--port", "6", fw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.LastOutLine(), "Upgrade PASS");
    dev->Stop();
    const std::string image = Image(6);
    ASSERT_EQ(image.size(), 2u * 262144);
    EXPECT_TRUE(image.substr(0, 262144) == Decoded(fw, 0, 262144)) << "scanner image differs";
    EXPECT_TRUE(image.substr(262144) == Decoded(fw, 263168, 262144)) << "dock image differs";
}

TEST_F(E2eTest, ScannerOfAnotherModelOrLowerKernelIsRefused) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {"kernel=2", kSparse});
    {
        auto dev = StartDevice("scanner", 3, {"model=LB2Y", "kernel=2"});
        auto r = Cli({"upgrade", "--port", "3", fw});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.LastOutLine(), "G006.6 Firmware dons not support this model");
    }
    {
        auto dev = StartDevice("scanner", 4, {"model=LB1Y", "kernel=1"});
        auto r = Cli({"upgrade", "--port", "4", fw});
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_EQ(r.LastOutLine(), "G006.5 Firmware dons not support this model");
    }
}
