#include "base/Logfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <mutex>

namespace tolm {

namespace {
std::mutex g_logMutex;
std::string g_logPath;  // empty: the default

// Creates every missing folder of dir with user-only rights.
void MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') mkdir(dir.substr(0, pos).c_str(), 0700);
    }
}

std::string StateDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') return std::string(state) + "/tolm-upgrade";
    const char* home = std::getenv("HOME");
    return std::string(home && *home ? home : "/tmp") + "/.local/state/tolm-upgrade";
}
}  // namespace

std::string DefaultLogPath() { return StateDir() + "/DUMMY.TXT"; }

std::string LogPath() {
    std::lock_guard lock(g_logMutex);
    return g_logPath.empty() ? DefaultLogPath() : g_logPath;
}

void SetLogPath(const std::string& path) {
    std::lock_guard lock(g_logMutex);
    g_logPath = path;
}

int WriteLogLine(const std::string& text, int count) {
    std::string path = LogPath();
    if (path == DefaultLogPath()) MakeDirs(StateDir());
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    if (count < 0) count = 0;
    if (count > static_cast<int>(text.size())) count = static_cast<int>(text.size());
    // One write per line, so lines from concurrent writers never interleave.
    std::string line = text.substr(0, static_cast<size_t>(count)) + "\r\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return close(fd);
}

}  // namespace tolm
