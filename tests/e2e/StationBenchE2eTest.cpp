// A station on a bench where devices stay attached and go quiet, folders of
// links come and go, and runs stop or hang: no device is flashed twice
// without being asked, and every run ends.
#include "StationFixture.h"

using namespace tolm::e2e;

namespace {
class StationBenchE2eTest : public StationTest {
protected:
    // Stops (SIGSTOP) the station's one run once its transfer is under way.
    void StopTheRunMidTransfer(const StationProcess& station) {
        ASSERT_TRUE(WaitFor([&] { return Starts(3) == 1; }, 30)) << dir.Read("station.err");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const auto runs = ChildrenOf(station.Pid());
        ASSERT_EQ(runs.size(), 1u);
        kill(runs[0], SIGSTOP);
    }
};
}  // namespace

// A device on a pseudo-terminal (no built-in UART: its node goes with it) that
// was there before the station and stays silent after its upgrade for longer
// than --removal-silence is not taken for a new one.
TEST_F(StationBenchE2eTest, SilenceDoesNotCountOnAPortThatIsNoBuiltInUart) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto device = Attach(3, {"--quiet-after-image", "5000"});
    StationProcess station({"--port", "3", "--removal-silence", "1", "--results", dir.File("r.csv"), fw},
                    dir.File("station.err"));
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 1; }, 30)) << dir.Read("station.err");
    std::this_thread::sleep_for(std::chrono::seconds(7));
    EXPECT_EQ(Starts(3), 1u) << "the silent device was upgraded again\n" << dir.Read("r.csv");
    EXPECT_EQ(station.End(SIGINT, 30), 130);
}

// A folder of links that disappears (the by-id folder when the last adapter
// goes) is a change only for the ports whose path runs through it.
TEST_F(StationBenchE2eTest, AFolderThatGoesChangesOnlyThePortsThroughIt) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    std::filesystem::create_directory(dir.File("by-id"));
    auto device = Attach(3, {});
    StationProcess station({"--port", "3", "--port", dir.File("by-id/adapter"), "--results", dir.File("r.csv"), fw},
                    dir.File("station.err"));
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 1; }, 30)) << dir.Read("station.err");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    std::filesystem::remove(dir.File("by-id"));
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(Starts(3), 1u) << "the untouched device on COM3 was upgraded again\n" << dir.Read("r.csv");
    EXPECT_EQ(station.End(SIGINT, 30), 130);
}

// A second signal ends the station at once, even with a run that is stopped
// (SIGSTOP) in the middle of its transfer: the run is killed and gets its line.
TEST_F(StationBenchE2eTest, ASecondSignalEndsAStoppedRunAndRecordsIt) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    auto device = Attach(3, {"--baud-emulation"});  // about 10 s of transfer
    StopTheRunMidTransfer(station);
    kill(station.Pid(), SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(station.End(SIGTERM, 5), 143) << dir.Read("station.err");
    EXPECT_EQ(ResultLines(), 1u) << dir.Read("r.csv");
    EXPECT_NE(dir.Read("r.csv").find("Upgrade Error (the upgrade process ended by signal 9)"), std::string::npos)
        << dir.Read("r.csv");
}

// A run that hangs mid-transfer (stopped here) is ended after 30 s without
// progress, and its line says why; the station goes on.
TEST_F(StationBenchE2eTest, ARunWithoutProgressFor30SecondsIsEndedAndRecorded) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    auto device = Attach(3, {"--baud-emulation"});
    StopTheRunMidTransfer(station);
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 1; }, 45)) << dir.Read("station.err");
    EXPECT_NE(dir.Read("r.csv").find("Upgrade Error (no progress for 30 s: the upgrade process was ended)"),
              std::string::npos)
        << dir.Read("r.csv");
    EXPECT_EQ(station.End(SIGINT, 10), 130) << dir.Read("station.err");
}

// A port a station serves is refused at the start to a second station and to
// an upgrade, with one clear line each; the first station's device is
// upgraded once.
TEST_F(StationBenchE2eTest, APortAStationServesIsRefusedToOthers) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const std::string refused = "tolm-upgrade-cli: COM3 is served by a running station (PID " +
                                std::to_string(station.Pid()) + "): end that station first\n";
    auto second = Cli({"station", "--port", "3", "--results", dir.File("r2.csv"), fw}, 5000);
    EXPECT_EQ(second.exitCode, 2);
    EXPECT_EQ(second.err, refused);
    auto upgrade = Cli({"upgrade", "--port", "3", fw}, 5000);
    EXPECT_EQ(upgrade.exitCode, 2);
    EXPECT_EQ(upgrade.err, refused);
    auto device = Attach(3, {});
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 1; }, 30)) << dir.Read("station.err");
    EXPECT_EQ(station.End(SIGINT, 30), 130);
    EXPECT_FALSE(std::filesystem::exists(dir.File("r2.csv")));
}

// One device that two port numbers come to reach during a run (a link left
// dangling, then its name reused) is upgraded under the first number only,
// and the other port says why.
TEST_F(StationBenchE2eTest, ADeviceThatTwoPortsReachIsUpgradedOnTheFirstOnly) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto device = Attach(3, {});
    std::filesystem::create_symlink(dir.File("tty-gone"), dir.File("COM4"));
    StationProcess station({"--port", "3,4", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 1; }, 30)) << dir.Read("station.err");
    std::filesystem::create_symlink(device->Pty(), dir.File("tty-gone"));
    ASSERT_TRUE(WaitFor([&] { return dir.Read("station.err").find("COM4 reaches the same device as COM3") !=
                                     std::string::npos; }, 15)) << dir.Read("station.err");
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(station.End(SIGINT), 130);
    EXPECT_EQ(Starts(3), 1u) << "the device was upgraded under both numbers\n" << dir.Read("r.csv");
    ASSERT_EQ(ResultLines(), 1u) << dir.Read("r.csv");
    EXPECT_NE(DataLines("r.csv")[0].find(",COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,"), std::string::npos);
}
