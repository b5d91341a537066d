// A station's record under the things that go wrong on a bench: a run killed
// mid-transfer, a full disk, a port that cannot be opened, a line that hangs
// up before the terminal announced itself, a device that goes silent after
// its upgrade, a station whose terminal (or "| tee") went away.
#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "StationFixture.h"

using namespace tolm::e2e;

namespace {
class StationE2eTest : public StationTest {};
}  // namespace

// A run killed in the middle of its transfer leaves a line that says so,
// with the device it was upgrading; the device, still attached, is not
// upgraded again. A station that dies takes its runs with it.
TEST_F(StationE2eTest, AKilledRunIsRecordedAndAStationThatDiesTakesItsRunsAlong) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    auto device = Attach(3, {"--baud-emulation"});  // about 10 s of transfer
    ASSERT_TRUE(WaitFor([&] { return Starts(3) == 1; }, 30)) << dir.Read("station.err");
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const auto runs = ChildrenOf(station.Pid());
    ASSERT_EQ(runs.size(), 1u);
    kill(runs[0], SIGKILL);

    ASSERT_TRUE(WaitFor([&] { return DataLines("r.csv").size() == 1; }, 20)) << dir.Read("station.err");
    const std::string line = DataLines("r.csv")[0];
    EXPECT_NE(line.find(",COM3,2LB,LB1Y,7_1_0,,,Upgrade Error (the upgrade process ended by signal 9),"),
              std::string::npos)
        << line;
    // The killed run told no time: the station's own clock gives it (more than the second it ran).
    std::vector<std::string> fields;
    std::istringstream columns(line);
    for (std::string field; std::getline(columns, field, ',');) fields.push_back(field);
    ASSERT_GT(fields.size(), 8u) << line;
    EXPECT_GE(std::atof(fields[8].c_str()), 1.0) << line;
    std::this_thread::sleep_for(std::chrono::seconds(4));
    EXPECT_EQ(DataLines("r.csv").size(), 1u) << "the device left attached was tried again";
    EXPECT_EQ(Starts(3), 1u) << "the device left attached was upgraded again";

    const auto waiting = ChildrenOf(station.Pid());
    ASSERT_FALSE(waiting.empty()) << "no run waits for the device to go";
    EXPECT_EQ(station.End(SIGKILL), 128 + SIGKILL);
    for (pid_t run : waiting) EXPECT_TRUE(WaitFor([&] { return Gone(run); }, 5)) << "run " << run << " outlived its station";
}

// When a line cannot be written, the file keeps its last whole line, no new
// device is taken, and the station ends with status 4, its lines on stderr.
TEST_F(StationE2eTest, AFullDiskStopsTheStationWithItsLinesOnStderr) {
    const std::string disk = dir.File("disk");
    std::filesystem::create_directory(disk);
    // Two pages: one for the attempts' journal, one that the results file fills.
    if (mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=8k") != 0)
        GTEST_SKIP() << "cannot mount a small tmpfs (" << std::strerror(errno) << "): run as root to test a full disk";
    struct Unmount {
        std::string path;
        ~Unmount() { umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};
    const std::string filler = "2026-01-01T00:00:00+0000,COM9,2LB,LB1Y,7_1_0,,,Upgrade PASS,0.3,00,3.4.8\n";
    std::string before = std::string(
        "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds,firmware_sha256,"
        "program_version\n");
    while (before.size() + filler.size() < 4096 - 40) before += filler;
    dir.Write("disk/r.csv", before);

    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto first = Attach(3, {});
    auto second = Attach(4, {});
    StationProcess station({"--port", "3,4", "--results", disk + "/r.csv", fw}, dir.File("station.err"));
    EXPECT_EQ(station.End(0), 4) << dir.Read("station.err");
    const std::string err = dir.Read("station.err");
    EXPECT_EQ(dir.Read("disk/r.csv"), before) << "the file lost its last whole line or got part of a new one";
    EXPECT_NE(err.find("could not be written (No space left on device); these lines are not in it:"),
              std::string::npos)
        << err;
    EXPECT_GE(Count(err, ",2LB,LB1Y,7_1_0,,,Upgrade PASS,"), 1u) << err;
    EXPECT_LE(Starts(3), 1u);
    EXPECT_LE(Starts(4), 1u);
}

// A Quorin station on a port that cannot be opened says so once and tries
// again quietly; a line that hangs up before its terminal announced itself
// is opened again when it comes back, and the next terminal is upgraded.
TEST_F(StationE2eTest, QuorinPortThatCannotOpenOrHangsUpIsOpenedAgain) {
    auto fw = Generate("quorin-firmware", "qr.bin", {"body-size=65536", "version=105", "kernel=3"});
    tolm::test::LinkPort(dir, 3, "/dev/null");  // exists, but is no serial line
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    EXPECT_TRUE(WaitFor([&] { return Count(dir.Read("station.err"), "E001") > 0; }, 20));
    std::this_thread::sleep_for(std::chrono::seconds(3));  // several more tries
    EXPECT_EQ(Count(dir.Read("station.err"), "E001"), 1u) << dir.Read("station.err");

    {
        tolm::test::PtyPair quiet;  // a line whose terminal has not announced itself yet
        tolm::test::LinkPort(dir, 3, quiet.SlavePath());
        std::this_thread::sleep_for(std::chrono::seconds(2));  // the station opens the line and waits
        std::filesystem::remove(dir.File("COM3"));
    }  // the adapter is unplugged: the line hangs up
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto terminal = StartDevice("quorin", 3, {"kernel=3", "announce-ms=300", "id=0000ABCD"});
    ASSERT_TRUE(WaitFor([&] { return DataLines("r.csv").size() == 1; }, 40)) << dir.Read("station.err");
    EXPECT_NE(DataLines("r.csv")[0].find(",COM3,3QR,,3,0000ABCD,QR1000,Upgrade PASS,"), std::string::npos)
        << DataLines("r.csv")[0];
    EXPECT_EQ(Count(dir.Read("station.err"), "E001"), 1u) << dir.Read("station.err");
    EXPECT_EQ(station.End(SIGINT), 130);
    terminal->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 65536)) << "the terminal's body differs from the file";
}

// A device that is silent for a while after its upgrade (rebooting) is not
// upgraded again where its port's node came with it; silence counts only on
// a built-in UART (here a pseudo-terminal that sysfs, as the station reads
// it, shows as one). The station keeps going after the reader of its stderr
// went away.
TEST_F(StationE2eTest, SilenceAfterAnUpgradeCountsOnlyWhereTheNodeNeverChanged) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto fixed = Attach(3, {"--quiet-after-image", "6000"});  // a built-in UART: its node never changes
    const std::string uart = dir.File("sys/devices/platform/serial8250");
    const std::string tty = dir.File("sys/class/tty/" + std::filesystem::path(fixed->Pty()).filename().string());
    std::filesystem::create_directories(uart);
    std::filesystem::create_directories(tty);
    std::filesystem::create_directory_symlink(uart, tty + "/device");
    setenv("TOLM_SYSFS_ROOT", dir.File("sys").c_str(), 1);
    struct Unset {
        ~Unset() { unsetenv("TOLM_SYSFS_ROOT"); }
    } unset;
    StationProcess station({"--port", "3,4", "--removal-silence", "2", "--results", dir.File("r.csv"), fw}, "",
                           true);
    std::this_thread::sleep_for(std::chrono::seconds(1));
    auto plugged = Attach(4, {"--quiet-after-image", "5000"});
    auto linesOf = [&](const std::string& port) {
        size_t n = 0;
        for (const auto& line : DataLines("r.csv")) n += line.find("," + port + ",") != std::string::npos;
        return n;
    };
    ASSERT_TRUE(WaitFor([&] { return linesOf("COM3") == 2; }, 30)) << dir.Read("r.csv");
    fixed->Stop();
    std::this_thread::sleep_for(std::chrono::seconds(2));
    EXPECT_EQ(linesOf("COM4"), 1u) << dir.Read("r.csv");
    EXPECT_EQ(Starts(4), 1u) << "the device rebooting on COM4 was upgraded again";
    EXPECT_EQ(station.End(SIGINT), 130);
}
