// What a station's record says when the bench changes under it: the firmware
// file replaced during a run, the results file deleted.
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
