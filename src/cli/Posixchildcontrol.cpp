#include "cli/Childcontrol.h"

#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "cli/Devicetap.h"

namespace tolm::cli {

namespace {
void OnStopSignal(int) { AskStop(); }
// Read on the main thread only: the control's state needs no lock.
bool g_controlOpen = false;
std::string g_pending;
int g_nodeChanges = 0;
std::optional<std::string> g_verdict;

// Takes what the control pipe holds, waiting up to timeoutMs for the first
// bytes; false once it has ended.
bool ReadControl(int timeoutMs) {
    while (g_controlOpen) {
        pollfd pfd{STDIN_FILENO, POLLIN, 0};
        const int ready = poll(&pfd, 1, timeoutMs);
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) return true;
        char buf[256];
        const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // The parent has gone: no upgrade goes on whose line nobody would write.
            g_controlOpen = false;
            AskStop();
            return false;
        }
        g_pending.append(buf, static_cast<size_t>(n));
        size_t nl;
        while ((nl = g_pending.find('\n')) != std::string::npos) {
            const std::string line = g_pending.substr(0, nl);
            g_pending.erase(0, nl + 1);
            if (line.rfind(kVerdictLine, 0) == 0)
                g_verdict = line.substr(std::string(kVerdictLine).size());
            else
                ++g_nodeChanges;
        }
        timeoutMs = 0;
    }
    return false;
}
}  // namespace

TChildControl::TChildControl() {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGINT, SIG_IGN);
    signal(SIGHUP, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    // Only a pipe from a parent is a control pipe.
    struct stat st {};
    g_controlOpen = fstat(STDIN_FILENO, &st) == 0 && S_ISFIFO(st.st_mode);
}

TChildControl::~TChildControl() = default;

bool TChildControl::TakeNodeChange() {
    ReadControl(0);
    const bool told = g_nodeChanges > 0;
    g_nodeChanges = 0;
    return told;
}

std::optional<std::string> TChildControl::AwaitVerdict(std::chrono::milliseconds timeout) {
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (!g_verdict) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !ReadControl(static_cast<int>(left.count()))) break;
    }
    auto verdict = g_verdict;
    g_verdict.reset();
    return verdict;
}

}  // namespace tolm::cli
