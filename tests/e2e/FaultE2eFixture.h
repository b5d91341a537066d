#pragma once
// End-to-end runs against devices with line faults (tolm-devsim run --fault):
// the device's fault log, timed command-line runs, and the checks every
// failed run must pass (failure text, exit status 1, nothing claims PASS).
#include <sys/stat.h>

#include <chrono>
#include <sstream>

#include "E2eFixture.h"

namespace tolm::e2e {

struct TimedRun : RunResult {
    double seconds = 0;
};

class FaultE2eTest : public E2eTest {
protected:
    // tolm-devsim run DEVICE on COMn with --fault for each of faults; what
    // fires is logged to FaultLog(port).
    std::unique_ptr<Device> StartFaulty(const std::string& device, int port, const std::vector<std::string>& sets,
                                        const std::vector<std::string>& faults) {
        std::vector<std::string> args{"run",         device, "--link", dir.File("COM" + std::to_string(port)),
                                      "--image-out", dir.File("image-" + std::to_string(port)),
                                      "--fault-log", dir.File("faults-" + std::to_string(port))};
        for (auto& s : sets) args.insert(args.end(), {"--set", s});
        for (auto& f : faults) args.insert(args.end(), {"--fault", f});
        auto d = std::make_unique<Device>(TOLM_DEVSIM, args);
        EXPECT_FALSE(d->Pty().empty()) << "tolm-devsim " << device << " did not start";
        return d;
    }

    // The lines of the device's fault log ("reply 7: drop", ..., and
    // "replies N" once the device has stopped).
    std::vector<std::string> FaultLog(int port) {
        std::vector<std::string> lines;
        std::istringstream in(dir.Read("faults-" + std::to_string(port)));
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    TimedRun TimedCli(const std::vector<std::string>& args, int timeoutMs = 120000) {
        const auto start = std::chrono::steady_clock::now();
        TimedRun r;
        static_cast<RunResult&>(r) = Cli(args, timeoutMs);
        r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        return r;
    }

    bool LinkExists(int port) {
        struct stat st {};
        return lstat(dir.File("COM" + std::to_string(port)).c_str(), &st) == 0;
    }

    // A run the faults defeated: its failure text, exit status 1, no PASS
    // anywhere, and the process ended well inside its time limit (so no
    // thread or wait outlived the upgrade).
    static void ExpectFailure(const TimedRun& r, const std::string& resultLine) {
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_EQ(r.LastOutLine(), resultLine) << r.out;
        EXPECT_EQ(r.out.find("PASS"), std::string::npos) << r.out;
        EXPECT_EQ(r.err.find("PASS"), std::string::npos) << r.err;
        EXPECT_LT(r.seconds, 30.0) << "the failed run took too long to end";
    }

    static void ExpectPass(const RunResult& r, const std::string& resultLine = "Upgrade PASS") {
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.LastOutLine(), resultLine) << r.out;
    }

    // True when the log shows every one of the faults fired.
    static ::testing::AssertionResult Fired(const std::vector<std::string>& log,
                                            const std::vector<std::string>& expected) {
        for (auto& e : expected) {
            bool found = false;
            for (auto& line : log) found = found || line.rfind(e, 0) == 0;
            if (!found) return ::testing::AssertionFailure() << "no fault log line starts with '" << e << "'";
        }
        return ::testing::AssertionSuccess();
    }
};

}  // namespace tolm::e2e
