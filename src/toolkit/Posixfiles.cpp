#include "toolkit/Files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
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

namespace {
bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

TWholeFileWrite WriteWholeFile(const std::string& path, const std::string& bytes) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(path, ec)) {  // replace what the link points at, not the link
        fs::path resolved = fs::canonical(path, ec);
        if (!ec) target = resolved.string();
    }

    static std::atomic<unsigned> counter{0};
    const std::string temp = target + ".~" + std::to_string(::getpid()) + "." + std::to_string(counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) return TWholeFileWrite::CannotCreate;
        const bool ok = WriteAll(fd, bytes);
        const int err = errno;
        const bool closed = ::close(fd) == 0;
        if (!ok) errno = err;
        return ok && closed ? TWholeFileWrite::Written : TWholeFileWrite::CannotWrite;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    const bool ok = WriteAll(fd, bytes);
    const int err = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int reason = !ok ? err : errno;
        ::unlink(temp.c_str());
        errno = reason;
        return TWholeFileWrite::CannotWrite;
    }
    return TWholeFileWrite::Written;
}

int OpenSharedAppendFile(const std::string& path) {
    // O_NONBLOCK: a FIFO at the name fails at once instead of waiting for a reader.
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        const int why = NotRegular(st);
        close(fd);
        errno = why;
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

void LockWholeFile(int fd) {
    while (flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
}

void UnlockWholeFile(int fd) { flock(fd, LOCK_UN); }

bool SyncFile(int fd) { return fsync(fd) == 0; }

bool StillFileAtPath(int fd, const std::string& path) {
    struct stat open {}, named {};
    if (fstat(fd, &open) != 0 || open.st_nlink == 0) return false;
    return lstat(path.c_str(), &named) == 0 && named.st_dev == open.st_dev && named.st_ino == open.st_ino;
}

std::filesystem::path FilePath(const std::string& utf8) { return std::filesystem::path(utf8); }

}  // namespace tolm
