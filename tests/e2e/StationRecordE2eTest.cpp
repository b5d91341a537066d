// What a station's record says when the bench changes under it: the firmware
// file replaced during a run, the results file deleted.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <thread>

#include "E2eFixture.h"

using namespace tolm::e2e;

namespace {
const std::string kSparse = "blank=1-150";

std::vector<std::string> DataLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    if (!lines.empty()) lines.erase(lines.begin());
    return lines;
}

bool WaitFor(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 10 && !done(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return done();
}

class StationRecordE2eTest : public E2eTest {
protected:
    void TearDown() override { End(SIGKILL); }
    void Start(std::vector<std::string> args) {
        args.insert(args.begin(), {TOLM_UPGRADE_CLI, "station"});
        const std::string err = dir.File("station.err");
        pid_ = fork();
        if (pid_ == 0) {
            const int fd = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(fd, 2);
            std::vector<char*> argv;
            for (auto& a : args) argv.push_back(a.data());
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
    }
    // Sends sig (none: 0) and waits up to 60 s; the exit status, 128 + a signal, or -1.
    int End(int sig) {
        if (pid_ <= 0) return -1;
        if (sig) kill(pid_, sig);
        int status = 0;
        for (int i = 0; i < 600; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return -1;
    }
    std::string Sha256Of(const std::string& path) {
        auto r = tolm::test::Run("/usr/bin/sha256sum", {path}, 10000);
        return r.out.substr(0, 64);
    }
    pid_t pid_ = -1;
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
    Start({"--port", "3", "--results", dir.File("r.csv"), fw});
    auto first = StartDevice("scanner", 3, {});
    ASSERT_TRUE(WaitFor([&] { return DataLines(dir.Read("r.csv")).size() == 1; }, 60)) << dir.Read("station.err");
    first->Stop();
    std::filesystem::rename(other, fw);
    auto second = StartDevice("scanner", 3, {});
    ASSERT_TRUE(WaitFor([&] { return DataLines(dir.Read("r.csv")).size() == 2; }, 60)) << dir.Read("station.err");
    second->Stop();
    EXPECT_TRUE(Image(3) == expected) << "the second device did not get the firmware the station read";
    for (const auto& line : DataLines(dir.Read("r.csv"))) {
        EXPECT_NE(line.find(",Upgrade PASS,"), std::string::npos) << line;
        EXPECT_NE(line.find("," + sha + ","), std::string::npos) << line;
    }
    EXPECT_EQ(End(SIGINT), 130);
    const std::string err = dir.Read("station.err");
    const size_t told = err.find("changed on disk");
    EXPECT_NE(told, std::string::npos) << err;
    EXPECT_EQ(err.find("changed on disk", told + 1), std::string::npos) << "said more than once:\n" << err;
}

// The results file deleted during a run: the next line is not written into
// the lost file but goes to stderr, and the station ends with status 4.
TEST_F(StationRecordE2eTest, ADeletedResultsFileIsAFailedWriteNotASilentLoss) {
    const std::string fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    Start({"--port", "3", "--results", dir.File("r.csv"), fw});
    auto first = StartDevice("scanner", 3, {});
    ASSERT_TRUE(WaitFor([&] { return DataLines(dir.Read("r.csv")).size() == 1; }, 60)) << dir.Read("station.err");
    first->Stop();
    std::remove(dir.File("r.csv").c_str());
    auto second = StartDevice("scanner", 3, {});
    EXPECT_EQ(End(0), 4) << dir.Read("station.err");
    const std::string err = dir.Read("station.err");
    EXPECT_NE(err.find("no longer the one this program writes"), std::string::npos) << err;
    EXPECT_NE(err.find(",COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,"), std::string::npos) << "the line is not on stderr:\n" << err;
}
