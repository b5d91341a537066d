#include "toolkit/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace tolm {

std::string HomeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && *pw->pw_dir) return pw->pw_dir;
    return {};
}

namespace {
// EISDIR for a folder, EINVAL for anything else that is not a regular file.
int NotRegular(const struct stat& st) { return S_ISDIR(st.st_mode) ? EISDIR : EINVAL; }
}  // namespace

int OpenRegularFile(const std::string& path) {
    // A device is never opened at all (opening one can have effects of its own).
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    if (!S_ISREG(st.st_mode)) {
        errno = NotRegular(st);
        return -1;
    }
    // Checked again on what was opened, in case the name changed meanwhile:
    // O_NONBLOCK so that a FIFO put there is not waited on, O_NOCTTY so that
    // a terminal never becomes this process's controlling one.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return -1;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int why = NotRegular(st);
        close(fd);
        errno = why;
        return -1;
    }
    const int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    return fd;
}

}  // namespace tolm
