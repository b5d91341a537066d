#include "cli/Stopsignals.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <stdexcept>

namespace tolm::cli {

const char* const kStopStatusText = "130 or 143 when SIGINT or SIGTERM";

namespace {
// One set of handlers per process: the handler only stores the signal and
// writes it into the pipe (both async-signal-safe); the watcher thread does
// the rest.
std::atomic<int> g_signal{0};
int g_pipe[2] = {-1, -1};
struct sigaction g_previousInt, g_previousTerm;

void OnSignal(int signo) {
    const int saved = errno;
    int none = 0;
    g_signal.compare_exchange_strong(none, signo);
    const unsigned char byte = static_cast<unsigned char>(signo);
    (void)!write(g_pipe[1], &byte, 1);
    errno = saved;
}
}  // namespace

TStopSignals::TStopSignals(std::function<void()> onStop) : onStop_(std::move(onStop)) {
    if (pipe2(g_pipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
    g_signal = 0;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, &g_previousInt);
    sigaction(SIGTERM, &action, &g_previousTerm);
    watcher_ = std::thread([this] { Watch(); });
}

TStopSignals::~TStopSignals() {
    sigaction(SIGINT, &g_previousInt, nullptr);
    sigaction(SIGTERM, &g_previousTerm, nullptr);
    const unsigned char quit = 0;
    (void)!write(g_pipe[1], &quit, 1);
    watcher_.join();
    close(g_pipe[0]);
    close(g_pipe[1]);
    g_pipe[0] = g_pipe[1] = -1;
}

int TStopSignals::Signal() const { return g_signal.load(); }

void TStopSignals::Watch() {
    bool stopped = false;
    for (;;) {
        unsigned char byte = 0;
        const ssize_t n = read(g_pipe[0], &byte, 1);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0 || byte == 0) return;
        if (stopped) continue;
        stopped = true;
        std::fprintf(stderr, "tolm-upgrade-cli: %s: stopping after the current exchange (again to end at once)\n",
                     byte == SIGINT ? "SIGINT" : "SIGTERM");
        // A second signal ends the process the usual way.
        signal(SIGINT, SIG_DFL);
        signal(SIGTERM, SIG_DFL);
        if (onStop_) onStop_();
    }
}

}  // namespace tolm::cli
