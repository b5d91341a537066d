#include "cli/Childprocess.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace tolm::cli {

namespace {
void ClosePair(int fds[2]) {
    close(fds[0]);
    close(fds[1]);
}
void CloseFd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}
}  // namespace

struct TChildProcess::TState {
    pid_t pid = -1;
    int reportFd = -1, errFd = -1, controlFd = -1;
};

TChildProcess::TChildProcess() : state_(std::make_unique<TState>()) {}

TChildProcess::~TChildProcess() {
    if (state_->pid > 0) {
        Stop();
        Wait();
    }
    CloseFd(state_->reportFd);
    CloseFd(state_->errFd);
    CloseFd(state_->controlFd);
}

bool TChildProcess::Running() const { return state_->pid > 0; }
int TChildProcess::ReportFd() const { return state_->reportFd; }
int TChildProcess::ErrorFd() const { return state_->errFd; }

bool TChildProcess::Start(const std::vector<std::string>& args, std::string& error) {
    if (state_->pid > 0) {
        error = "a run is still going on";
        return false;
    }
    CloseFd(state_->reportFd);
    CloseFd(state_->errFd);
    CloseFd(state_->controlFd);
    // A parent started with SIGCHLD ignored would have its children reaped
    // behind its back, and could never learn how they ended.
    signal(SIGCHLD, SIG_DFL);

    int report[2], err[2], control[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        error = std::string("cannot start a run: ") + std::strerror(errno);
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        error = std::string("cannot start a run: ") + std::strerror(errno);
        ClosePair(report);
        return false;
    }
    if (pipe2(control, O_CLOEXEC) != 0) {
        error = std::string("cannot start a run: ") + std::strerror(errno);
        ClosePair(report);
        ClosePair(err);
        return false;
    }
    const int devnull = open("/dev/null", O_WRONLY | O_CLOEXEC);
    std::vector<std::string> argvText = args;
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t parent = getpid();

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(127);  // the parent died before the line above
        signal(SIGINT, SIG_IGN);
        signal(SIGHUP, SIG_IGN);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        // Each source is first copied above the targets, so that no dup2
        // below overwrites a source that happens to sit on a target.
        const int sources[] = {control[0], devnull, err[1], report[1]};
        int high[4];
        for (int i = 0; i < 4; ++i) {
            high[i] = sources[i] < 0 ? -1 : fcntl(sources[i], F_DUPFD_CLOEXEC, 10);
            if (high[i] < 0 && i != 1) _exit(127);
        }
        for (int i = 0; i < 4; ++i) {
            if (high[i] >= 0) dup2(high[i], i);  // the copy on 0-3 is kept across exec
            else close(i);
        }
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(report[1]);
    close(err[1]);
    close(control[0]);
    if (devnull >= 0) close(devnull);
    if (pid < 0) {
        error = std::string("cannot start a run: ") + std::strerror(errno);
        close(report[0]);
        close(err[0]);
        close(control[1]);
        return false;
    }
    fcntl(control[1], F_SETFL, O_NONBLOCK);
    state_->pid = pid;
    state_->reportFd = report[0];
    state_->errFd = err[0];
    state_->controlFd = control[1];
    return true;
}

ssize_t TChildProcess::Read(int fd, char* buf, size_t size) {
    if (fd < 0 || (fd != state_->reportFd && fd != state_->errFd)) return -1;
    const ssize_t n = read(fd, buf, size);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return -1;
    if (n <= 0) {
        CloseFd(fd == state_->reportFd ? state_->reportFd : state_->errFd);
        return 0;
    }
    return n;
}

void TChildProcess::Tell(const std::string& line) {
    if (state_->controlFd < 0) return;
    const std::string text = line + "\n";
    (void)!write(state_->controlFd, text.data(), text.size());
}

void TChildProcess::Stop() {
    if (state_->pid > 0) kill(state_->pid, SIGTERM);
}

void TChildProcess::Kill() {
    if (state_->pid > 0) kill(state_->pid, SIGKILL);
}

TChildExit TChildProcess::Wait() {
    TChildExit exit;
    if (state_->pid <= 0) {
        exit.Error = "no run was started";
        return exit;
    }
    int status = 0;
    pid_t got;
    while ((got = waitpid(state_->pid, &status, 0)) < 0 && errno == EINTR) {
    }
    state_->pid = -1;
    CloseFd(state_->controlFd);
    if (got < 0) {
        exit.Error = std::strerror(errno);
        return exit;
    }
    exit.Waited = true;
    exit.Signalled = WIFSIGNALED(status);
    if (exit.Signalled) exit.Signal = WTERMSIG(status);
    else exit.Code = WEXITSTATUS(status);
    return exit;
}

}  // namespace tolm::cli
