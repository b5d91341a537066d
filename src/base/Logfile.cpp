#include "base/Logfile.h"

#include <mutex>

namespace tolm {

namespace {
std::mutex g_logMutex;
std::string g_logPath;  // empty: the default
}  // namespace

std::string LogPath() {
    std::lock_guard lock(g_logMutex);
    return g_logPath.empty() ? DefaultLogPath() : g_logPath;
}

void SetLogPath(const std::string& path) {
    std::lock_guard lock(g_logMutex);
    g_logPath = path;
}

int WriteLogLine(const std::string& text, int count) {
    const std::string path = LogPath();
    if (path.empty()) return -1;
    if (count < 0) count = 0;
    if (count > static_cast<int>(text.size())) count = static_cast<int>(text.size());
    // One write per line, so lines from concurrent writers never interleave.
    return AppendLogLine(path, text.substr(0, static_cast<size_t>(count)) + "\r\n");
}

}  // namespace tolm
