// A soak of the station: on every port, emulated scanners (each with a
// terminal ID of its own) arrive and leave at random, each with a fault of its
// own, the next one attached 0.5 to 3 s after the last was pulled; now and
// then the station itself is killed (kill -9) and started again on the same
// results file. Every line of the results file is then held against what the
// device on that port at that time really received: every transfer has its
// line, no device that passed is flashed again, every line's firmware hash is
// that of the file whose bytes the device got.
//
// TOLM_SOAK_SECONDS (default 150) and TOLM_SOAK_PORTS (default 8) size it;
// TOLM_SOAK_SEED repeats a run (the seed used is printed); TOLM_SOAK_KILL_EVERY
// (default 40 s; 0: never) is the mean time between kills of the station. TOLM_SOAK_CLI and
// TOLM_SOAK_DEVSIM name copies of the programs to run instead of the built
// ones, so that a long run goes on while the build changes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <random>
#include <sstream>
#include <thread>

#include "Programs.h"
#include "TestSupport.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

// What a device does besides answering: each kind is one way a bench goes wrong.
enum class Kind { Normal, EarlyPull, Covered, Uncovered, Vanish, WrongModel, Silent, Stays, QuietAfter };

struct KindInfo {
    Kind kind;
    const char* name;
    int weight;
    bool answers;     // answers the station's first request at all
    bool shouldPass;  // an upgrade of it that reached the device's end passes
};

const KindInfo kKinds[] = {
    {Kind::Normal, "normal", 22, true, true},
    {Kind::EarlyPull, "pulled early", 10, true, false},
    {Kind::Covered, "lost reply, retried", 14, true, true},
    {Kind::Uncovered, "lost replies, failed", 10, true, false},
    {Kind::Vanish, "adapter pulled mid-transfer", 10, true, false},
    {Kind::WrongModel, "wrong model", 9, true, false},
    {Kind::Silent, "silent", 5, false, false},
    {Kind::Stays, "stays attached", 12, true, true},
    {Kind::QuietAfter, "silent 5 s after", 8, true, true},
};

const KindInfo& Info(Kind kind) {
    for (const auto& info : kKinds)
        if (info.kind == kind) return info;
    return kKinds[0];
}

std::string EnvText(const char* name, const char* fallback) {
    const char* text = std::getenv(name);
    return text && *text ? text : fallback;
}
const std::string kDevsim = EnvText("TOLM_SOAK_DEVSIM", TOLM_DEVSIM);
const std::string kCli = EnvText("TOLM_SOAK_CLI", TOLM_UPGRADE_CLI);

long EnvNumber(const char* name, long fallback) {
    const char* text = std::getenv(name);
    return text && *text ? std::strtol(text, nullptr, 10) : fallback;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), {});
}

size_t LineCount(const std::string& path) {
    const std::string text = ReadFile(path);
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (quoted && c == '"' && i + 1 < line.size() && line[i + 1] == '"') {
            fields.back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ',' && !quoted) {
            fields.emplace_back();
        } else {
            fields.back() += c;
        }
    }
    return fields;
}

// One emulated device: what it was, when it was there, and what it received.
struct Device {
    int port = 0;
    std::string id;  // its terminal ID: tells its lines from its neighbours'
    Kind kind = Kind::Normal;
    std::string files;  // prefix of its logs and image
    std::chrono::system_clock::time_point attached;
    double staySeconds = 0;
    size_t starts = 0, completes = 0;
    bool flashIsFile = false;
    std::vector<std::string> lines;  // its lines in the results file
};

class Soak {
public:
    Soak(const tolm::test::TempDir& dir, int ports, double seconds, unsigned seed)
        : dir_(dir), ports_(ports), seconds_(seconds), seed_(seed) {}

    // The image a device's flash holds after the whole file: bytes minus 10.
    void SetExpectedFlash(std::string flash) { expectedFlash_ = std::move(flash); }

    // Runs the devices of one port until the end time, then pulls the last.
    void RunPort(int port, Clock::time_point end) {
        std::mt19937 random(seed_ * 131 + static_cast<unsigned>(port));
        int weightSum = 0;
        for (const auto& info : kKinds) weightSum += info.weight;
        auto uniform = [&](double a, double b) { return std::uniform_real_distribution<double>(a, b)(random); };
        int serial = 0;
        while (Clock::now() < end) {
            int pick = std::uniform_int_distribution<int>(0, weightSum - 1)(random);
            Kind kind = kKinds[0].kind;
            for (const auto& info : kKinds) {
                if (pick < info.weight) {
                    kind = info.kind;
                    break;
                }
                pick -= info.weight;
            }
            Device device;
            device.port = port;
            device.kind = kind;
            char id[16];
            std::snprintf(id, sizeof id, "%04X%04X", port, serial);
            device.id = id;
            device.files = dir_.File("dev-" + std::to_string(port) + "-" + std::to_string(serial++));
            std::vector<std::string> args{"run",           "tid-scanner",       "--link",
                                          Link(port),      "--image-out",       device.files + ".img",
                                          "--start-log",   device.files + ".starts", "--transfer-log",
                                          device.files + ".done", "--set",      "id=" + device.id};
            const int reply = std::uniform_int_distribution<int>(10, 90)(random);
            switch (kind) {
                case Kind::Covered: args.insert(args.end(), {"--fault", "drop:" + std::to_string(reply)}); break;
                case Kind::Uncovered:
                    args.insert(args.end(), {"--fault", "drop:" + std::to_string(reply) + "-" + std::to_string(reply + 2)});
                    break;
                case Kind::Vanish: args.insert(args.end(), {"--fault", "vanish:" + std::to_string(reply)}); break;
                case Kind::WrongModel: args.insert(args.end(), {"--set", "model=TW2X"}); break;
                case Kind::Silent: args.insert(args.end(), {"--fault", "drop:rate=1"}); break;
                case Kind::QuietAfter: args.insert(args.end(), {"--quiet-after-image", "5000"}); break;
                default: break;
            }
            device.attached = std::chrono::system_clock::now();
            const auto attached = Clock::now();
            {
                tolm::test::BackgroundDevice process(kDevsim, args);
                if (process.Pty().empty()) {
                    Violation("COM" + std::to_string(port) + ": the emulator did not start");
                    return;
                }
                // How long it stays: until its upgrade is done and then some, or a while.
                auto untilDone = [&](double extraFrom, double extraTo) {
                    const auto limit = attached + 40s;
                    while (Clock::now() < limit && LineCount(device.files + ".done") == 0)
                        std::this_thread::sleep_for(50ms);
                    std::this_thread::sleep_for(std::chrono::duration<double>(uniform(extraFrom, extraTo)));
                };
                auto forAWhile = [&](double from, double to) {
                    std::this_thread::sleep_for(std::chrono::duration<double>(uniform(from, to)));
                };
                switch (kind) {
                    case Kind::Normal:
                    case Kind::Covered: untilDone(0.5, 2); break;
                    case Kind::Stays: untilDone(12, 20); break;
                    case Kind::QuietAfter: untilDone(7, 12); break;
                    case Kind::EarlyPull: forAWhile(0.2, 3); break;
                    case Kind::Uncovered:
                    case Kind::WrongModel: forAWhile(6, 12); break;
                    case Kind::Vanish: forAWhile(4, 8); break;
                    case Kind::Silent: forAWhile(3, 10); break;
                }
                device.staySeconds = std::chrono::duration<double>(Clock::now() - attached).count();
            }  // pulled
            {
                std::lock_guard lock(mutex_);
                devices_.push_back(device);
            }
            std::this_thread::sleep_for(std::chrono::duration<double>(uniform(0.5, 3)));
        }
    }

    std::string Link(int port) const { return dir_.File("COM" + std::to_string(port)); }

    void Violation(const std::string& text) {
        std::lock_guard lock(mutex_);
        violations_.push_back(text);
    }

    // The station was killed now (and started again a moment later).
    void Killed() {
        std::lock_guard lock(mutex_);
        kills_.push_back(std::chrono::system_clock::now());
    }

    // Holds the results file against the devices.
    void Check(const std::string& results, const std::string& sha256, const std::string& version) {
        for (auto& device : devices_) {
            device.starts = LineCount(device.files + ".starts");
            device.completes = LineCount(device.files + ".done");
            device.flashIsFile = ReadFile(device.files + ".img") == expectedFlash_;
        }
        const std::string text = ReadFile(results);
        std::istringstream in(text);
        std::string line;
        std::getline(in, line);  // the header
        const size_t columns = SplitCsv(line).size();
        if (!text.empty() && text.back() != '\n') Violation("the results file ends in the middle of a line");
        while (std::getline(in, line)) {
            ++lineCount_;
            const auto f = SplitCsv(line);
            if (f.size() != columns) {
                Violation("a line with " + std::to_string(f.size()) + " fields: " + line);
                continue;
            }
            results_[f[7]]++;
            if (f[2] != "2TW" || f[9] != sha256 || f[10] != version)
                Violation("a line with another family, file digest or version: " + line);
            Device* device = Owner(f);
            if (!device) {
                Violation("a line that names no device that was on its port: " + line);
                continue;
            }
            device->lines.push_back(line);
            const bool pass = f[7] == "Upgrade PASS";
            if (pass && (!device->flashIsFile || device->completes == 0))
                Violation("PASS without the whole image: " + line);
            // A station killed mid-attempt leaves the next one to say so, and
            // may leave its device mid-exchange for the next attempt.
            if (f[7] == kStationEnded || (KilledDuring(*device) && !pass)) continue;
            if (device->kind == Kind::WrongModel && f[7].rfind("G006.", 0) != 0)
                Violation("a device of another model got \"" + f[7] + "\": " + line);
            if (device->kind == Kind::WrongModel && f[3] != "TW2X") Violation("the model is not recorded: " + line);
        }
        for (const auto& device : devices_) {
            const auto& info = Info(device.kind);
            const std::string name = "COM" + std::to_string(device.port) + " device " + device.id + " (" + info.name +
                                     ", " + std::to_string(device.staySeconds).substr(0, 4) + " s)";
            // Its attempts, and whether one passed before the last of them.
            size_t attempts = 0, passes = 0;
            bool attemptAfterPass = false, skippedBeforePass = false;
            for (const auto& line : device.lines) {
                const std::string result = SplitCsv(line)[7];
                if (result == kAlreadyUpgraded) {
                    skippedBeforePass = skippedBeforePass || passes == 0;
                    continue;
                }
                attemptAfterPass = attemptAfterPass || passes > 0;
                ++attempts;
                passes += result == "Upgrade PASS";
            }
            if (passes > 1 || attemptAfterPass) Violation(name + " passed and was tried again");
            if (skippedBeforePass) Violation(name + " was skipped as upgraded before it passed");
            // A station killed while a device was attached may leave its
            // transfer stopped, and the next one upgrades it again.
            const bool killedMeanwhile = KilledDuring(device);
            if ((attempts > 1 || device.starts > 1) && !killedMeanwhile)
                Violation(name + " was upgraded " + std::to_string(std::max(attempts, device.starts)) + " times");
            if (device.starts > attempts)
                Violation(name + " got " + std::to_string(device.starts) + " transfers but " +
                          std::to_string(attempts) + " lines");
            if (info.answers && device.staySeconds >= 8 && device.lines.empty())
                Violation(name + " answered for 8 s but was never tried");
            if (!info.answers && !device.lines.empty()) Violation(name + " never answered but got a line");
            // A station killed between the device's last acknowledgement and
            // the line leaves the outcome to the next one, which says it ended.
            auto says = [&](const std::string& result) {
                return std::any_of(device.lines.begin(), device.lines.end(),
                                   [&](const std::string& line) { return SplitCsv(line)[7] == result; });
            };
            if (info.shouldPass && device.completes > 0 && !device.lines.empty() && !says("Upgrade PASS") &&
                !says(kStationEnded))
                Violation(name + " received its whole image but its line says otherwise: " + device.lines[0]);
        }
    }

    void Report(std::FILE* out, double seconds, const std::vector<long>& rss, const std::vector<int>& fds,
                double cpuSeconds) const {
        std::map<int, int> perPort;
        std::map<std::string, int> perKind;
        size_t tried = 0;
        for (const auto& device : devices_) {
            perPort[device.port]++;
            perKind[Info(device.kind).name]++;
            tried += !device.lines.empty();
        }
        int least = 1 << 30, most = 0;
        for (const auto& [port, n] : perPort) {
            least = std::min(least, n);
            most = std::max(most, n);
        }
        std::fprintf(out, "soak: %d ports, %.0f s, seed %u, the station killed %zu times\n", ports_, seconds, seed_,
                     kills_.size());
        std::fprintf(out, "soak: %zu devices (%d to %d per port, %.1f on average), %zu tried, %zu lines\n",
                     devices_.size(), perPort.empty() ? 0 : least, most,
                     perPort.empty() ? 0.0 : double(devices_.size()) / perPort.size(), tried, lineCount_);
        for (const auto& kill : kills_) {
            const std::time_t t = std::chrono::system_clock::to_time_t(kill);
            char text[32];
            std::strftime(text, sizeof text, "%H:%M:%S", std::gmtime(&t));
            std::fprintf(out, "soak: the station killed at %s UTC\n", text);
        }
        for (const auto& [kind, n] : perKind) std::fprintf(out, "soak:   %-28s %d devices\n", kind.c_str(), n);
        for (const auto& [result, n] : results_) std::fprintf(out, "soak:   line \"%s\": %d\n", result.c_str(), n);
        if (!rss.empty())
            std::fprintf(out, "soak: station memory %ld kB at the start, %ld kB at most, %ld kB at the end\n",
                         rss.front(), *std::max_element(rss.begin(), rss.end()), rss.back());
        if (!fds.empty())
            std::fprintf(out, "soak: station descriptors %d at the start, %d at most, %d at the end\n", fds.front(),
                         *std::max_element(fds.begin(), fds.end()), fds.back());
        std::fprintf(out, "soak: station processor time %.1f s (%.2f %% of a core)\n", cpuSeconds,
                     seconds > 0 ? 100.0 * cpuSeconds / seconds : 0.0);
        std::fprintf(out, "soak: %zu violations\n", violations_.size());
        std::fflush(out);
    }

    const std::vector<std::string>& Violations() const { return violations_; }

private:
    static constexpr const char* kAlreadyUpgraded = "Upgrade skipped (already upgraded)";
    static constexpr const char* kStationEnded = "Upgrade stopped (the station ended)";

    bool KilledDuring(const Device& device) const {
        const auto left = device.attached + std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                                std::chrono::duration<double>(device.staySeconds));
        for (const auto& kill : kills_)
            if (kill >= device.attached && kill <= left) return true;
        return false;
    }

    // The device whose line this is: its port, its terminal ID, attached
    // before the line was written.
    Device* Owner(const std::vector<std::string>& f) {
        if (f[1].rfind("COM", 0) != 0) return nullptr;
        const int port = std::atoi(f[1].c_str() + 3);
        std::tm tm{};
        if (!strptime(f[0].c_str(), "%Y-%m-%dT%H:%M:%S%z", &tm)) return nullptr;
        const auto written = std::chrono::system_clock::from_time_t(timegm(&tm) - tm.tm_gmtoff) + 1s;
        Device* owner = nullptr;
        for (auto& device : devices_)
            if (device.port == port && device.id == f[5] && device.attached <= written &&
                (!owner || device.attached > owner->attached))
                owner = &device;
        return owner;
    }

    const tolm::test::TempDir& dir_;
    int ports_;
    double seconds_;
    unsigned seed_;
    std::string expectedFlash_;
    std::mutex mutex_;
    std::vector<Device> devices_;
    std::vector<std::string> violations_;
    std::vector<std::chrono::system_clock::time_point> kills_;
    std::map<std::string, int> results_;
    size_t lineCount_ = 0;
};

long StatusField(pid_t pid, const std::string& key) {
    std::istringstream in(ReadFile("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(in, line);)
        if (line.rfind(key + ":", 0) == 0) return std::atol(line.c_str() + key.size() + 1);
    return -1;
}

int OpenDescriptors(pid_t pid) {
    std::error_code ec;
    int n = 0;
    for (auto it = std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec);
         !ec && it != std::filesystem::directory_iterator(); ++it)
        ++n;
    return n;
}

double ProcessorSeconds(pid_t pid) {
    const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream rest(stat.substr(close + 2));
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 3; i <= 15 && rest >> field; ++i) {
        if (i == 14) utime = std::stoul(field);
        if (i == 15) stime = std::stoul(field);
    }
    return double(utime + stime) / sysconf(_SC_CLK_TCK);
}

// tolm-upgrade-cli station on the ports, its stdout and stderr appended to errPath.
pid_t StartStation(const std::vector<std::string>& args, const std::string& errPath) {
    std::vector<std::string> argvText = args;
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t station = fork();
    if (station == 0) {
        const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
        dup2(err, 1);
        dup2(err, 2);
        execv(argv[0], argv.data());
        _exit(127);
    }
    return station;
}

}  // namespace

TEST(Soak, EveryLineOfTheStationMatchesWhatItsDeviceReceived) {
    const double seconds = static_cast<double>(EnvNumber("TOLM_SOAK_SECONDS", 150));
    const int ports = static_cast<int>(EnvNumber("TOLM_SOAK_PORTS", 8));
    const double killEvery = static_cast<double>(EnvNumber("TOLM_SOAK_KILL_EVERY", 40));
    const unsigned seed = static_cast<unsigned>(EnvNumber("TOLM_SOAK_SEED", static_cast<long>(std::random_device{}() % 100000)));
    tolm::test::TempDir dir;
    setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
    setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    const std::string fw = dir.File("tw2y.bin");
    auto gen = tolm::test::Run(kDevsim, {"gen", "tid-fw", "--out", fw, "--set", "images=1", "--set", "blank=1-150"},
                               30000);
    ASSERT_EQ(gen.exitCode, 0) << gen.err;
    std::string flash = ReadFile(fw).substr(0, 262144);
    for (auto& c : flash) c = static_cast<char>(static_cast<unsigned char>(c) - 10);
    auto sha = tolm::test::Run("/usr/bin/sha256sum", {fw}, 10000);
    const std::string sha256 = sha.out.substr(0, 64);
    auto version = tolm::test::Run(kCli, {"--version"}, 10000);
    const std::string programVersion = version.out.substr(version.out.rfind(' ') + 1, version.out.find('\n') - version.out.rfind(' ') - 1);

    // The station, its stderr kept for a look when something fails.
    const std::string results = dir.File("results.csv");
    const std::string portList = "3-" + std::to_string(2 + ports);
    const std::vector<std::string> stationArgs{kCli, "station", "--port", portList, "--results", results, fw};
    const std::string errPath = dir.File("station.err");
    std::atomic<pid_t> station{StartStation(stationArgs, errPath)};
    ASSERT_GT(station.load(), 0);

    Soak soak(dir, ports, seconds, seed);
    soak.SetExpectedFlash(flash);
    std::vector<long> rss;
    std::vector<int> fds;
    std::this_thread::sleep_for(1s);  // the station has started
    std::atomic<bool> sampling{true};
    double cpu = 0;  // of the stations killed
    std::mutex stationMutex;
    std::thread sampler([&] {
        while (sampling) {
            {
                std::lock_guard lock(stationMutex);
                rss.push_back(StatusField(station, "VmRSS"));
                fds.push_back(OpenDescriptors(station));
            }
            for (int i = 0; i < 20 && sampling; ++i) std::this_thread::sleep_for(100ms);
        }
    });
    const auto start = Clock::now();
    const auto end = start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    // kill -9 now and then, as a crash or the OOM killer would, and a new
    // station on the same file a moment later.
    std::atomic<bool> killing{killEvery > 0};
    std::thread killer([&] {
        std::mt19937 random(seed * 7 + 1);
        while (killing) {
            const auto at = Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
                                               std::uniform_real_distribution<double>(0.5, 1.5)(random) * killEvery));
            while (killing && Clock::now() < at && Clock::now() < end - 10s) std::this_thread::sleep_for(100ms);
            if (!killing || Clock::now() >= end - 10s) break;
            std::lock_guard lock(stationMutex);
            cpu += ProcessorSeconds(station);
            kill(station, SIGKILL);
            waitpid(station, nullptr, 0);
            soak.Killed();
            std::this_thread::sleep_for(std::chrono::duration<double>(std::uniform_real_distribution<double>(0.2, 2)(random)));
            station = StartStation(stationArgs, errPath);
        }
    });
    std::vector<std::thread> portThreads;
    for (int port = 3; port < 3 + ports; ++port) portThreads.emplace_back([&, port] { soak.RunPort(port, end); });
    for (auto& t : portThreads) t.join();
    killing = false;
    killer.join();
    std::this_thread::sleep_for(8s);  // the last failed attempts end and are written
    const double ran = std::chrono::duration<double>(Clock::now() - start).count();
    cpu += ProcessorSeconds(station);
    sampling = false;
    sampler.join();

    int status = 0;
    const bool alive = waitpid(station, &status, WNOHANG) == 0;
    EXPECT_TRUE(alive) << "the station ended before its time:\n" << ReadFile(errPath).substr(0, 4000);
    if (alive) {
        kill(station, SIGINT);
        for (int i = 0; i < 300 && waitpid(station, &status, WNOHANG) == 0; ++i) std::this_thread::sleep_for(100ms);
        if (kill(station, 0) == 0) {
            kill(station, SIGKILL);
            waitpid(station, &status, 0);
            ADD_FAILURE() << "the station did not end within 30 s of Ctrl-C";
        } else {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 130) << "status " << status;
        }
    }

    soak.Check(results, sha256, programVersion);
    soak.Report(stdout, ran, rss, fds, cpu);
    // Memory flat: after the first quarter (libraries, first runs), it does
    // not grow. A restarted station starts over, so only a run without kills says.
    if (rss.size() >= 8 && killEvery <= 0) {
        const long settled = *std::max_element(rss.begin() + rss.size() / 4, rss.begin() + rss.size() / 2);
        EXPECT_LE(*std::max_element(rss.begin() + rss.size() / 2, rss.end()), settled + 1024)
            << "the station's memory grew (kB)";
    }
    if (!fds.empty()) EXPECT_LE(*std::max_element(fds.begin(), fds.end()), 16 + 4 * ports) << "the station's descriptors grew";
    const auto& violations = soak.Violations();
    for (size_t i = 0; i < violations.size() && i < 40; ++i) ADD_FAILURE() << violations[i];
    if (!violations.empty())
        std::printf("station stderr (last lines):\n%s\n", [&] {
            const std::string err = ReadFile(errPath);
            return err.size() > 6000 ? err.substr(err.size() - 6000) : err;
        }().c_str());
}
