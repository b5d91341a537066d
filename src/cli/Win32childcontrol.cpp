#include "cli/Childcontrol.h"

#include <atomic>
#include <string>
#include <thread>

#include "cli/Devicetap.h"

#include <windows.h>

namespace tolm::cli {

namespace {
std::atomic<int> g_nodeChanges{0};
}  // namespace

TChildControl::TChildControl() {
    // The console's events are the parent's to judge: a run is started
    // without a console, and ignores Ctrl-C should it be given one.
    SetConsoleCtrlHandler(nullptr, TRUE);
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    if (input == nullptr || input == INVALID_HANDLE_VALUE || GetFileType(input) != FILE_TYPE_PIPE) return;
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
                if (line == kStopLine)
                    AskStop();
                else
                    ++g_nodeChanges;
                line.clear();
            }
        }
        AskStop();  // the parent has gone: no upgrade goes on whose line nobody would write
    }).detach();
}

TChildControl::~TChildControl() = default;

bool TChildControl::TakeNodeChange() { return g_nodeChanges.exchange(0) > 0; }

}  // namespace tolm::cli
