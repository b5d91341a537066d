#include "cli/Childcontrol.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "cli/Devicetap.h"

#include <windows.h>

namespace tolm::cli {

namespace {
std::atomic<int> g_nodeChanges{0};
// The parent's verdict on an attempt, handed from the reading thread.
std::mutex g_verdictMutex;
std::condition_variable g_verdictCame;
std::optional<std::string> g_verdict;
bool g_controlEnded = false;

void ControlEnded() {
    {
        std::lock_guard<std::mutex> lock(g_verdictMutex);
        g_controlEnded = true;
    }
    g_verdictCame.notify_all();
}
}  // namespace

TChildControl::TChildControl() {
    // The console's events are the parent's to judge: a run is started
    // without a console, and ignores Ctrl-C should it be given one.
    SetConsoleCtrlHandler(nullptr, TRUE);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_PIPE) {
        ControlEnded();  // no parent answers
        return;
    }
    // Reads the control pipe for the life of the process: a blocking read
    // cannot be ended from outside, and the pipe ends with the parent anyway.
    std::thread([input] {
        std::string line;
        char buf[256];
        DWORD n = 0;
        while (ReadFile(input, buf, sizeof buf, &n, nullptr) && n > 0) {
            for (DWORD i = 0; i < n; ++i) {
                if (buf[i] != '\n') {
                    line += buf[i];
                    continue;
                }
                if (line == kStopLine) {
                    AskStop();
                } else if (line.rfind(kVerdictLine, 0) == 0) {
                    {
                        std::lock_guard<std::mutex> lock(g_verdictMutex);
                        g_verdict = line.substr(std::string(kVerdictLine).size());
                    }
                    g_verdictCame.notify_all();
                } else {
                    ++g_nodeChanges;
                }
                line.clear();
            }
        }
        AskStop();  // the parent has gone: no upgrade goes on whose line nobody would write
        ControlEnded();
    }).detach();
}

TChildControl::~TChildControl() = default;

bool TChildControl::TakeNodeChange() { return g_nodeChanges.exchange(0) > 0; }

std::optional<std::string> TChildControl::AwaitVerdict(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(g_verdictMutex);
    g_verdictCame.wait_for(lock, timeout, [] { return g_verdict.has_value() || g_controlEnded; });
    auto verdict = g_verdict;
    g_verdict.reset();
    return verdict;
}

}  // namespace tolm::cli
