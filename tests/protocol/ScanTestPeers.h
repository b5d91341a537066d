#pragma once
// The far ends of a scanner upgrade in the tests: the emulator program on its
// own pseudo-terminal, or a scripted peer on a PtyPair that answers each
// request the way a test wants.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"

extern char** environ;

namespace tolm::scantest {

// Runs `tolm-devsim run DEVICE --link LINK --image-out IMAGE --set ...` and
// waits for its "PTY" line; stopping it makes it write the image and exit.
class DevsimProcess {
public:
    DevsimProcess(const std::string& device, const std::string& link, const std::string& imageOut,
                  const std::vector<std::string>& sets = {}) {
        std::vector<std::string> args{TOLM_DEVSIM_PATH, "run", device, "--link", link, "--image-out", imageOut};
        for (auto& s : sets) {
            args.push_back("--set");
            args.push_back(s);
        }
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        int out[2];
        if (pipe(out) != 0) throw std::runtime_error("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        posix_spawn_file_actions_addclose(&actions, out[1]);
        int rc = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(out[1]);
        if (rc != 0) {
            close(out[0]);
            throw std::runtime_error("cannot start tolm-devsim");
        }
        line_ = ReadLine(out[0], 10000);
        close(out[0]);
    }
    ~DevsimProcess() { Stop(); }
    DevsimProcess(const DevsimProcess&) = delete;
    DevsimProcess& operator=(const DevsimProcess&) = delete;

    // "PTY /dev/pts/N" once the line is up; empty if the program failed.
    const std::string& ReadyLine() const { return line_; }
    bool Ready() const { return line_.rfind("PTY ", 0) == 0; }

    // Stops the emulator and waits for it; its image is written by then.
    int Stop() {
        if (pid_ <= 0) return exitCode_;
        kill(pid_, SIGTERM);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        exitCode_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return exitCode_;
    }

private:
    static std::string ReadLine(int fd, int timeoutMs) {
        std::string line;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 100) <= 0) continue;
            char c;
            if (read(fd, &c, 1) != 1) break;
            if (c == '\n') break;
            line += c;
        }
        return line;
    }

    pid_t pid_ = -1;
    int exitCode_ = -1;
    std::string line_;
};

// A peer on the master side of a PtyPair. It cuts what the host writes into
// requests with `length` (bytes needed for the request at the front: > 0
// that many, 0 more needed, -1 drop a byte) and writes whatever `answer`
// returns for each, recording every request with its arrival time.
class ScriptedPeer {
public:
    using Clock = std::chrono::steady_clock;
    struct Request {
        std::string bytes;
        Clock::time_point at;
    };
    using LengthFn = std::function<int(const std::string& pending)>;
    using AnswerFn = std::function<std::string(const std::string& request, int index)>;

    ScriptedPeer(test::PtyPair& pty, LengthFn length, AnswerFn answer)
        : pty_(pty), length_(std::move(length)), answer_(std::move(answer)), thread_([this] { Run(); }) {}
    ~ScriptedPeer() {
        stop_ = true;
        thread_.join();
    }
    std::vector<Request> Requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    void Run() {
        std::string pending;
        while (!stop_) {
            pollfd pfd{pty_.MasterFd(), POLLIN, 0};
            if (poll(&pfd, 1, 20) <= 0) continue;
            char buf[4096];
            ssize_t n = read(pty_.MasterFd(), buf, sizeof buf);
            if (n <= 0) continue;
            pending.append(buf, static_cast<size_t>(n));
            while (!pending.empty()) {
                int len = length_(pending);
                if (len == 0) break;
                if (len < 0) {
                    pending.erase(0, 1);
                    continue;
                }
                std::string request = pending.substr(0, static_cast<size_t>(len));
                pending.erase(0, static_cast<size_t>(len));
                int index;
                {
                    std::lock_guard lock(mutex_);
                    index = static_cast<int>(requests_.size());
                    requests_.push_back({request, Clock::now()});
                }
                std::string reply = answer_(request, index);
                if (!reply.empty()) pty_.Write(reply);
            }
        }
    }

    test::PtyPair& pty_;
    LengthFn length_;
    AnswerFn answer_;
    mutable std::mutex mutex_;
    std::vector<Request> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace tolm::scantest
