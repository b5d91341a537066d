#include "cli/Runloop.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace tolm::cli {

namespace {
int wakeWrite = -1, wakeRead = -1;
std::atomic<int> lastSignal{0};

void OnSignal(int sig) {
    lastSignal = sig;
    const int saved = errno;
    const char byte = 1;
    if (wakeWrite >= 0) (void)!write(wakeWrite, &byte, 1);
    errno = saved;
}
}  // namespace

// Each signal is the command's to judge here: none ends the program at once.
TInterrupts::TInterrupts(int) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0) {
        wakeRead = fds[0];
        wakeWrite = fds[1];
    }
    struct sigaction sa {};
    sa.sa_handler = OnSignal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

TInterrupts::~TInterrupts() {
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    signal(SIGHUP, SIG_DFL);
    signal(SIGPIPE, SIG_DFL);
    close(wakeRead);
    close(wakeWrite);
    wakeRead = wakeWrite = -1;
}

int TInterrupts::Fd() const { return wakeRead; }

int TInterrupts::Take() {
    int count = 0;
    char buf[16];
    ssize_t n;
    while ((n = read(wakeRead, buf, sizeof buf)) > 0) count += static_cast<int>(n);
    return count;
}

int TInterrupts::ExitStatus() const {
    const int sig = lastSignal;
    return sig == 0 ? 0 : 128 + sig;
}

int PumpRuns(const std::vector<TPortRun*>& runs, TInterrupts& interrupts, TBoard& board, int timeoutMs) {
    std::vector<pollfd> fds{{interrupts.Fd(), POLLIN, 0}};
    std::vector<TPortRun*> owners{nullptr};
    for (auto& run : runs)
        for (int fd : run->Descriptors()) {
            fds.push_back({fd, POLLIN, 0});
            owners.push_back(run);
        }
    if (poll(fds.data(), fds.size(), timeoutMs) < 0) return errno == EINTR ? interrupts.Take() : 0;
    for (size_t i = 1; i < fds.size(); ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        owners[i]->Readable(
            fds[i].fd, [&](TPortRun& run, const std::string& line) { board.Message(run.Row, line); },
            [&] { board.Changed(); });
    }
    return (fds[0].revents & POLLIN) ? interrupts.Take() : 0;
}

}  // namespace tolm::cli
