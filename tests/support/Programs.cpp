#include "Programs.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

namespace tolm::test {

namespace {
using Clock = std::chrono::steady_clock;

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

int Spawn(const std::string& program, const std::vector<std::string>& args, int outFd, int errFd) {
    auto argv = Argv(program, args);  // built before fork: the child only execs
    int pid = fork();
    if (pid == 0) {
        dup2(outFd, 1);
        dup2(errFd, 2);
        int devnull = open("/dev/null", O_RDONLY);
        dup2(devnull, 0);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    return pid;
}

int WaitStatus(int pid) {
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
}  // namespace

std::string RunResult::LastOutLine() const {
    std::string text = out;
    while (!text.empty() && text.back() == '\n') text.pop_back();
    auto nl = text.rfind('\n');
    return nl == std::string::npos ? text : text.substr(nl + 1);
}

RunResult Run(const std::string& program, const std::vector<std::string>& args, int timeoutMs) {
    int outPipe[2], errPipe[2];
    RunResult result;
    if (pipe2(outPipe, O_CLOEXEC) != 0 || pipe2(errPipe, O_CLOEXEC) != 0) return result;
    int pid = Spawn(program, args, outPipe[1], errPipe[1]);
    close(outPipe[1]);
    close(errPipe[1]);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    bool killed = false;
    int open = 2;
    while (open > 0) {
        pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            kill(pid, SIGKILL);
            killed = true;
            break;
        }
        if (poll(fds, 2, static_cast<int>(left)) <= 0) continue;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP))) continue;
            char buf[4096];
            ssize_t n = read(fds[i].fd, buf, sizeof buf);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            } else {
                close(i == 0 ? outPipe[0] : errPipe[0]);
                (i == 0 ? outPipe[0] : errPipe[0]) = -1;
                --open;
            }
        }
    }
    if (outPipe[0] >= 0) close(outPipe[0]);
    if (errPipe[0] >= 0) close(errPipe[0]);
    int code = WaitStatus(pid);
    result.exitCode = killed ? -1 : code;
    return result;
}

BackgroundDevice::BackgroundDevice(const std::string& program, const std::vector<std::string>& args) {
    int outPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) return;
    int errFd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    pid_ = Spawn(program, args, outPipe[1], errFd);
    close(outPipe[1]);
    close(errFd);
    outFd_ = outPipe[0];
    // The device prints "PTY <path>" once its line is ready.
    std::string text;
    const auto deadline = Clock::now() + std::chrono::seconds(10);
    while (Clock::now() < deadline && text.find('\n') == std::string::npos) {
        pollfd pfd{outFd_, POLLIN, 0};
        if (poll(&pfd, 1, 100) <= 0) continue;
        char buf[256];
        ssize_t n = read(outFd_, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<size_t>(n));
    }
    auto nl = text.find('\n');
    if (nl != std::string::npos && text.rfind("PTY ", 0) == 0) pty_ = text.substr(4, nl - 4);
}

int BackgroundDevice::Stop() {
    if (pid_ < 0) return -1;
    kill(pid_, SIGTERM);
    int code = WaitStatus(pid_);
    pid_ = -1;
    if (outFd_ >= 0) close(outFd_);
    outFd_ = -1;
    return code;
}

BackgroundDevice::~BackgroundDevice() { Stop(); }

}  // namespace tolm::test
