// Several ports at once: one tolm-upgrade-cli upgrades emulated devices on
// several pseudo-terminals, each run independent of the others, and a station
// upgrades each device that arrives exactly once.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <chrono>
#include <sstream>
#include <thread>

#include "FaultE2eFixture.h"

using namespace tolm::e2e;

namespace {
const std::string kSparse = "blank=1-150";

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

nlohmann::json ParseResults(const RunResult& r) {
    const auto doc = nlohmann::json::parse(r.out, nullptr, false);
    EXPECT_TRUE(doc.is_array()) << "not a JSON array:\n" << r.out;
    return doc.is_array() ? doc : nlohmann::json::array();
}

std::string Text(const nlohmann::json& o, const char* key) { return o.value(key, std::string()); }
}  // namespace

TEST_F(FaultE2eTest, FourScannerPortsEachGetTheirOwnOutcome) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto good3 = StartDevice("scanner", 3, {});
    auto good4 = StartDevice("scanner", 4, {});
    tolm::test::PtyPair silent;
    tolm::test::LinkPort(dir, 5, silent.SlavePath());
    auto lossy = StartFaulty("scanner", 6, {}, {"drop:50-52"});
    auto r = Cli({"upgrade", "--port", "3,4", "--port", "5-6", fw});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"COM3: Upgrade PASS", "COM4: Upgrade PASS",
                                                      "COM5: G006.0 Connection Error", "COM6: Upgrade Error"}))
        << r.err;
    good3->Stop();
    good4->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144)) << "COM3's flash differs from the file";
    EXPECT_TRUE(Image(4) == Decoded(fw, 0, 262144)) << "COM4's flash differs from the file";
    // Off a terminal, progress comes as lines naming their port.
    EXPECT_NE(r.err.find("COM4: progress 100%"), std::string::npos) << r.err;
}

// Started by a parent that ignores SIGCHLD (its children would be reaped
// behind its back), the command still learns how each run ended.
TEST_F(FaultE2eTest, RunsAreJudgedByHowTheyEndedEvenWithSigchldIgnored) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    auto good = StartDevice("scanner", 3, {});
    tolm::test::PtyPair silent;
    tolm::test::LinkPort(dir, 4, silent.SlavePath());
    auto r = tolm::test::Run("/bin/bash", {"-c", "trap '' CHLD; exec '" + std::string(TOLM_UPGRADE_CLI) +
                                                   "' upgrade --port 3,4 '" + fw + "'"},
                             60000);
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(Lines(r.out), (std::vector<std::string>{"COM3: Upgrade PASS", "COM4: G006.0 Connection Error"})) << r.err;
}

TEST_F(FaultE2eTest, JsonResultsAgreeWithTheResultLines) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse, "model=LB1Y", "kernel=3"});
    auto good = StartDevice("scanner", 3, {"model=LB1Y", "kernel=4", "digit6=7"});
    tolm::test::PtyPair silent;
    tolm::test::LinkPort(dir, 4, silent.SlavePath());
    auto lines = Cli({"upgrade", "--port", "3", "--port", "4", fw});
    auto json = Cli({"upgrade", "--port", "3", "--port", "4", "--json", fw});
    EXPECT_EQ(json.exitCode, lines.exitCode);
    auto results = ParseResults(json);
    ASSERT_EQ(results.size(), 2u) << json.out;
    const auto expected = Lines(lines.out);
    ASSERT_EQ(expected.size(), 2u) << lines.out;
    for (int i = 0; i < 2; ++i) {
        auto o = results[i];
        EXPECT_EQ(Text(o, "port") + ": " + Text(o, "result"), expected[i]);
        EXPECT_EQ(o.value("passed", false), expected[i].ends_with("Upgrade PASS"));
    }
    auto pass = results[0];
    EXPECT_EQ(Text(pass, "device"), good->Pty()) << "the device that COM3 links to";
    EXPECT_EQ(Text(pass, "model_code"), "LB1Y");
    EXPECT_EQ(Text(pass, "kernel_digits"), "7/4/0");
    EXPECT_GT(pass.value("bytes_sent", 0.0), 143 * 1024) << "every block not blank is sent";
    EXPECT_FALSE(results[1].contains("model_code")) << "a silent port reports no device";
}

// A scanner in its docking station: each tells of itself, neither takes the
// other's ID or name.
TEST_F(FaultE2eTest, AScannerAndItsDockAreNamedApart) {
    auto fw = Generate("tid-fw", "pair.bin", {"images=2", kSparse, "dock-blank=1-150"});
    auto dev = StartDevice("tid-pair", 6, {});
    auto r = Cli({"upgrade", "--port", "6", "--json", fw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    auto results = ParseResults(r);
    ASSERT_EQ(results.size(), 1u) << r.out;
    auto scanner = results[0];
    auto dock = scanner.value("dock", nlohmann::json::object());
    EXPECT_EQ(Text(scanner, "terminal_id") + " " + Text(scanner, "terminal_name"), "00000001 SCAN01") << r.out;
    EXPECT_EQ(Text(dock, "terminal_id") + " " + Text(dock, "terminal_name"), "00000002 DOCK01") << r.out;
}

TEST_F(FaultE2eTest, QuorinPairWhereOneTerminalNeverAnnounces) {
    auto fw = Generate("quorin-firmware", "qr.bin", {"body-size=65536", "version=105", "kernel=3"});
    auto dev = StartDevice("quorin", 7, {"kernel=3", "announce-ms=300"});
    tolm::test::PtyPair silent;
    tolm::test::LinkPort(dir, 8, silent.SlavePath());
    auto r = Cli({"upgrade", "--port", "7,8", "--wait", "5", "--json", fw});
    EXPECT_EQ(r.exitCode, 1) << r.err;
    auto results = ParseResults(r);
    ASSERT_EQ(results.size(), 2u) << r.out;
    auto announced = results[0], quiet = results[1];
    EXPECT_EQ(Text(announced, "result"), "Upgrade PASS") << r.err;
    EXPECT_EQ(Text(announced, "terminal_id").size(), 8u) << "the announcement names the terminal";
    EXPECT_FALSE(Text(announced, "terminal_name").empty());
    EXPECT_EQ(Text(quiet, "result").rfind("no result within 5 s: no announcement came", 0), 0u)
        << Text(quiet, "result");
    EXPECT_FALSE(quiet.value("passed", false));
    dev->Stop();
    EXPECT_TRUE(Image(7) == Decoded(fw, 0, 65536)) << "the terminal's body differs from the file";
}

// A station on one port: the first scanner is upgraded once however long it
// stays attached, the next one that arrives is upgraded too, and Ctrl-C ends it.
TEST_F(FaultE2eTest, StationUpgradesEachArrivingDeviceOnce) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    const std::string results = dir.File("results.csv");
    const std::string cli = TOLM_UPGRADE_CLI;
    const std::vector<std::string> args{"station", "--port", "3", "--results", results, fw};
    std::vector<char*> argv{const_cast<char*>(cli.c_str())};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string errPath = dir.File("station.err");
    const pid_t pid = fork();
    if (pid == 0) {
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(err, 2);
        execv(cli.c_str(), argv.data());
        _exit(127);
    }
    ASSERT_GT(pid, 0);
    auto dataLines = [&] { return Lines(dir.Read("results.csv")).size() - 1; };
    auto waitForLines = [&](size_t n) {
        for (int i = 0; i < 1200 && (dir.Read("results.csv").empty() || dataLines() < n); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return !dir.Read("results.csv").empty() && dataLines() == n;
    };

    std::this_thread::sleep_for(std::chrono::seconds(1));  // nothing attached: the port waits
    auto first = StartDevice("scanner", 3, {"model=LB1Y"});
    EXPECT_TRUE(waitForLines(1)) << dir.Read("station.err");
    // Longer than the silence after which a device counts as gone.
    std::this_thread::sleep_for(std::chrono::seconds(5));
    EXPECT_EQ(dataLines(), 1u) << "the attached scanner was upgraded again";
    first->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144)) << "the first scanner's flash differs from the file";
    // A scanner just like it comes after a gap shorter than any look the
    // station takes: the port's node went and came, so this is another device.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    auto second = StartDevice("scanner", 3, {"model=LB1Y"});
    EXPECT_TRUE(waitForLines(2)) << dir.Read("station.err");

    kill(pid, SIGINT);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << "status " << status;
    auto lines = Lines(dir.Read("results.csv"));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0],
              "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds,firmware_sha256,"
              "program_version,attempt_id,station,operator,started_utc,ended_utc,device_id");
    for (size_t i = 1; i < 3; ++i) {
        EXPECT_NE(lines[i].find(",COM3,2LB,LB1Y,7_1_0,,,Upgrade PASS,"), std::string::npos) << lines[i];
    }
}

TEST_F(FaultE2eTest, BadPortListsAndRefusedFilesAreUsageErrors) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {kSparse});
    for (const std::string ports : {"3,COM3", "7-3", "3,,4"}) {
        auto r = Cli({"upgrade", "--port", ports, fw});
        EXPECT_EQ(r.exitCode, 2) << ports << ": " << r.err;
        EXPECT_EQ(r.out, "") << ports;
    }
    dir.Write("junk.bin", std::string(4096, 'x'));
    auto r = Cli({"upgrade", "--port", "3-4", dir.File("junk.bin")});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    auto station = Cli({"station", "--port", "3", "--results", dir.File("r.csv"), dir.File("junk.bin")});
    EXPECT_EQ(station.exitCode, 2) << "a station must not wait forever with a file it refuses: " << station.err;
}
