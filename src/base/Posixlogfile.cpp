#include "base/Logfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "toolkit/Files.h"

namespace tolm {

namespace {
// Creates every missing folder of dir with user-only rights.
void MakeDirs(const std::string& dir) {
    for (size_t pos = 1; pos <= dir.size(); ++pos) {
        if (pos == dir.size() || dir[pos] == '/') mkdir(dir.substr(0, pos).c_str(), 0700);
    }
}

// The per-user state folder; empty when the user has no home folder (never a
// shared fallback such as /tmp, where anyone could prepare the path).
std::string StateDir() {
    const char* state = std::getenv("XDG_STATE_HOME");
    if (state && *state == '/') return std::string(state) + "/tolm-upgrade";
    const std::string home = HomeDirectory();
    return home.empty() ? std::string() : home + "/.local/state/tolm-upgrade";
}

// The default folder is used only when it is a real folder of this user:
// one made by someone else could hold a link or a file they control.
bool OwnFolder(const std::string& dir) {
    struct stat st {};
    return lstat(dir.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}
}  // namespace

std::string DefaultLogPath() {
    const std::string dir = StateDir();
    return dir.empty() ? std::string() : dir + "/DUMMY.TXT";
}

int AppendLogLine(const std::string& path, const std::string& line) {
    if (path == DefaultLogPath()) {
        MakeDirs(StateDir());
        if (!OwnFolder(StateDir())) return -1;
    }
    // Never through a link at the log's own name, and never onto a FIFO or a
    // device (O_NONBLOCK: opening a FIFO that nobody reads fails instead of waiting).
    int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(fd, line.data() + done, line.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    return close(fd);
}

}  // namespace tolm
