#include "records/Systemservices.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/random.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace tolm::records {

bool RandomBytes(void* buffer, size_t size) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t got = getrandom(bytes, size, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        size -= static_cast<size_t>(got);
    }
    return true;
}

std::string HostName() {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return {};
    return name;
}

std::optional<std::string> EnvironmentText(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    if (!value) return std::nullopt;
    return std::string(value);
}

namespace {
bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

std::string Folder(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}
}  // namespace

bool WriteFileDurably(const std::string& path, const std::string& bytes, std::string& why) {
    static std::atomic<unsigned> counter{0};
    const std::string temp = path + ".~" + std::to_string(getpid()) + "." + std::to_string(counter++);
    const int fd = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (fd < 0) {
        why = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    const bool written = WriteAll(fd, bytes) && fsync(fd) == 0;
    const int error = errno;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temp.c_str(), path.c_str()) != 0) {
        why = "cannot write " + path + ": " + std::strerror(!written ? error : errno);
        unlink(temp.c_str());
        return false;
    }
    // The rename itself reaches the disk only with its folder.
    const int folder = open(Folder(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const bool synced = folder >= 0 && fsync(folder) == 0;
    if (folder >= 0) close(folder);
    if (!synced) {
        why = "cannot flush the folder of " + path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

long ProcessId() { return static_cast<long>(getpid()); }

bool ProcessRunning(long pid) { return kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH; }

}  // namespace tolm::records
