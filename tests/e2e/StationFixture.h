#pragma once
// Shared by the station's end-to-end tests: a station in the background, the
// emulated scanners it serves, and reading what it wrote.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "E2eFixture.h"

namespace tolm::e2e {

inline const std::string kSparse = "blank=1-150";

inline std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

inline size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

inline bool WaitFor(const std::function<bool()>& done, int seconds) {
    for (int i = 0; i < seconds * 10; ++i) {
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return done();
}

// The processes whose parent is pid.
inline std::vector<pid_t> ChildrenOf(pid_t pid) {
    std::vector<pid_t> children;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string name = entry.path().filename();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::ifstream stat(entry.path() / "stat");
        std::string text((std::istreambuf_iterator<char>(stat)), {});
        const size_t close = text.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(text.substr(close + 2));
        char state;
        pid_t ppid = 0;
        rest >> state >> ppid;
        if (ppid == pid) children.push_back(std::stoi(name));
    }
    return children;
}

inline bool Gone(pid_t pid) { return kill(pid, 0) != 0 && errno == ESRCH; }

// tolm-upgrade-cli station in the background, its stderr in a file (or on a
// pipe nobody reads).
class StationProcess {
public:
    StationProcess(const std::vector<std::string>& args, const std::string& errPath, bool errReaderGone = false) {
        int errPipe[2] = {-1, -1};
        if (errReaderGone && pipe(errPipe) != 0) return;
        const std::string cli = TOLM_UPGRADE_CLI;
        std::vector<std::string> all{cli, "station"};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            const int err = errReaderGone ? errPipe[1] : open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(err, 2);
            dup2(err, 1);
            execv(cli.c_str(), argv.data());
            _exit(127);
        }
        if (errReaderGone) {
            close(errPipe[0]);  // the reader is gone before the station writes anything
            close(errPipe[1]);
        }
    }
    ~StationProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    // Exit status after sig (0: none sent) within seconds; -1 when it did not end.
    int End(int sig, int seconds = 60) {
        if (sig != 0) kill(pid_, sig);
        int status = 0;
        for (int i = 0; i < seconds * 10; ++i) {
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

class StationTest : public E2eTest {
protected:
    std::unique_ptr<Device> Attach(int port, const std::vector<std::string>& extra,
                                   const std::string& device = "scanner") {
        std::vector<std::string> args{"run", device, "--link", dir.File("COM" + std::to_string(port)), "--start-log",
                                      dir.File("starts-" + std::to_string(port))};
        args.insert(args.end(), extra.begin(), extra.end());
        auto d = std::make_unique<Device>(TOLM_DEVSIM, args);
        EXPECT_FALSE(d->Pty().empty());
        return d;
    }
    size_t Starts(int port) { return Lines(dir.Read("starts-" + std::to_string(port))).size(); }
    std::vector<std::string> DataLines(const std::string& results) {
        auto lines = Lines(dir.Read(results));
        if (!lines.empty()) lines.erase(lines.begin());
        return lines;
    }
    size_t ResultLines() { return DataLines("r.csv").size(); }
};

}  // namespace tolm::e2e
