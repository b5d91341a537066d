#include "toolkit/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
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

void CloseFile(int fd) {
    if (fd >= 0) close(fd);
}

long long OpenFileSize(int fd) {
    struct stat st {};
    return fd >= 0 && fstat(fd, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long ReadFileAt(int fd, long long offset, void* buffer, long long count) {
    if (fd < 0 || offset < 0 || count < 0) return -1;
    auto* bytes = static_cast<unsigned char*>(buffer);
    long long done = 0;
    while (done < count) {
        const ssize_t n = pread(fd, bytes + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

std::optional<TFileFacts> RegularFileFacts(const std::string& path) {
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
    TFileFacts facts;
    facts.Size = static_cast<long long>(st.st_size);
    facts.ModifiedNs = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return facts;
}

bool WriteWholeFile(const std::string& path, const void* data, size_t size) {
    const std::string tmp = path + ".part";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    const auto* bytes = static_cast<const unsigned char*>(data);
    size_t done = 0;
    bool ok = true;
    while (done < size) {
        ssize_t n = write(fd, bytes + done, size - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

}  // namespace tolm
