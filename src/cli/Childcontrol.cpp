#include "cli/Childcontrol.h"

#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "cli/Devicetap.h"

namespace tolm::cli {

namespace {
void OnStopSignal(int) { AskStop(); }
std::atomic<bool> g_controlOpen{false};
}  // namespace

TChildControl::TChildControl() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    g_controlOpen = isatty(STDIN_FILENO) == 0;
}

TChildControl::~TChildControl() = default;

bool TChildControl::TakeNodeChange() {
    bool told = false;
    while (g_controlOpen) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        if (poll(&pfd, 1, 0) <= 0) break;
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            g_controlOpen = false;  // no parent writes here (any more)
            break;
        }
        told = true;
    }
    return told;
}

}  // namespace tolm::cli
