// What a station's record says when the bench changes under it: the firmware
// file replaced during a run, the results file deleted, the station killed,
// a device that passed coming back.
#include <cstdio>
#include <filesystem>

#include "StationFixture.h"

using namespace tolm::e2e;

namespace {
class StationRecordE2eTest : public StationTest {
protected:
    std::string Sha256Of(const std::string& path) {
        return tolm::test::Run("/usr/bin/sha256sum", {path}, 10000).out.substr(0, 64);
    }
};
}  // namespace

// The file is replaced between two devices: the second device gets the bytes
// the station read at start, and both lines name their hash.
TEST_F(StationRecordE2eTest, EveryDeviceGetsTheFirmwareReadAtStartAndItsLineSaysSo) {
    const std::string fw = Generate("scanner-fw", "cur.bin", {kSparse});
    const std::string other = Generate("scanner-fw", "fw2.bin", {kSparse, "seed=77"});
    const std::string sha = Sha256Of(fw);
    ASSERT_NE(sha, Sha256Of(other));
    const std::string expected = Decoded(fw, 0, 262144);
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    auto first = StartDevice("scanner", 3, {});
    ASSERT_TRUE(WaitFor([&] { return DataLines("r.csv").size() == 1; }, 60)) << dir.Read("station.err");
    first->Stop();
    std::filesystem::rename(other, fw);
    auto second = StartDevice("scanner", 3, {});
    ASSERT_TRUE(WaitFor([&] { return DataLines("r.csv").size() == 2; }, 60)) << dir.Read("station.err");
    second->Stop();
    EXPECT_TRUE(Image(3) == expected) << "the second device did not get the firmware the station read";
    for (const auto& line : DataLines("r.csv")) {
        EXPECT_NE(line.find(",Upgrade PASS,"), std::string::npos) << line;
        EXPECT_NE(line.find("," + sha + ","), std::string::npos) << line;
    }
    EXPECT_EQ(station.End(SIGINT), 130);
    const std::string err = dir.Read("station.err");
    const size_t told = err.find("changed on disk");
    EXPECT_NE(told, std::string::npos) << err;
    EXPECT_EQ(err.find("changed on disk", told + 1), std::string::npos) << "said more than once:\n" << err;
}

// The results file deleted during a run: the next line is not written into
// the lost file but goes to stderr, and the station ends with status 4.
TEST_F(StationRecordE2eTest, ADeletedResultsFileIsAFailedWriteNotASilentLoss) {
    const std::string fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    auto first = StartDevice("scanner", 3, {});
    ASSERT_TRUE(WaitFor([&] { return DataLines("r.csv").size() == 1; }, 60)) << dir.Read("station.err");
    first->Stop();
    std::remove(dir.File("r.csv").c_str());
    auto second = StartDevice("scanner", 3, {});
    EXPECT_EQ(station.End(0), 4) << dir.Read("station.err");
    const std::string err = dir.Read("station.err");
    EXPECT_NE(err.find("no longer the one this program writes"), std::string::npos) << err;
    EXPECT_NE(err.find(",COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,"), std::string::npos) << "the line is not on stderr:\n" << err;
}

// A station killed in the middle of a transfer: its run stops, and the next
// station on the same file gives the attempt its line before anything else,
// and removes the firmware copy the killed one left.
TEST_F(StationRecordE2eTest, AnAttemptOfAKilledStationGetsItsLineFromTheNextOne) {
    const std::string fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    std::filesystem::create_directory(dir.File("tmp"));
    setenv("TMPDIR", dir.File("tmp").c_str(), 1);
    struct Unset {
        ~Unset() { unsetenv("TMPDIR"); }
    } unset;
    auto copies = [&] { return std::distance(std::filesystem::directory_iterator(dir.File("tmp")), {}); };
    {
        auto device = Attach(3, {"--baud-emulation"});  // about 10 s of transfer
        StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
        ASSERT_TRUE(WaitFor([&] { return Starts(3) == 1; }, 30)) << dir.Read("station.err");
        std::this_thread::sleep_for(std::chrono::seconds(1));
        const auto runs = ChildrenOf(station.Pid());
        EXPECT_EQ(station.End(SIGKILL), 128 + SIGKILL);
        for (pid_t run : runs) EXPECT_TRUE(WaitFor([&] { return Gone(run); }, 10)) << "the run went on alone";
    }
    ASSERT_TRUE(DataLines("r.csv").empty());
    EXPECT_EQ(copies(), 1);
    StationProcess next({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("next.err"));
    ASSERT_TRUE(WaitFor([&] { return DataLines("r.csv").size() == 1; }, 20)) << dir.Read("next.err");
    EXPECT_EQ(copies(), 1) << "the killed station's copy is still there";
    EXPECT_EQ(next.End(SIGINT), 130);
    const std::string line = DataLines("r.csv")[0];
    EXPECT_NE(line.find(",COM3,2LB,LB1Y,7_1_0,,,Upgrade stopped (the station ended),,"), std::string::npos) << line;
    EXPECT_NE(dir.Read("next.err").find("1 attempt that an earlier station left open"), std::string::npos)
        << dir.Read("next.err");
    EXPECT_FALSE(std::filesystem::exists(dir.File("r.csv.journal"))) << "an orderly end left the journal";
}

// A device whose ID has a PASS line of this firmware, plugged in again or
// still attached when a station starts, is not upgraded again unless asked.
TEST_F(StationRecordE2eTest, ADeviceThatPassedIsNotUpgradedAgainUnlessAsked) {
    const std::string fw = Generate("tid-fw", "tw2y.bin", {"images=1", kSparse});
    const std::vector<std::string> id{"--set", "id=0000ABCD"};
    auto device = Attach(3, id, "tid-scanner");
    StationProcess station({"--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("station.err"));
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 1; }, 60)) << dir.Read("station.err");
    device->Stop();
    device = Attach(3, id, "tid-scanner");
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 2; }, 30)) << dir.Read("station.err");
    EXPECT_EQ(station.End(SIGINT), 130);
    EXPECT_NE(DataLines("r.csv")[1].find(",0000ABCD,SCAN01,Upgrade skipped (already upgraded),"), std::string::npos)
        << DataLines("r.csv")[1];
    EXPECT_EQ(Starts(3), 1u) << "the device that passed was upgraded again";

    StationProcess again({"--again", "--port", "3", "--results", dir.File("r.csv"), fw}, dir.File("again.err"));
    ASSERT_TRUE(WaitFor([&] { return ResultLines() == 3; }, 60)) << dir.Read("again.err");
    EXPECT_EQ(again.End(SIGINT), 130);
    EXPECT_NE(DataLines("r.csv")[2].find(",Upgrade PASS,"), std::string::npos) << DataLines("r.csv")[2];
    EXPECT_EQ(Starts(3), 2u);
}
