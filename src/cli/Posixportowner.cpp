#include "cli/Portowner.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "cli/Portarg.h"
#include "platform/Portmap.h"

namespace tolm::cli {

namespace {
// The port's name among the locks: "COM3", or a device path with '/' as '_'.
std::string LockName(const std::string& port) {
    if (port.find('/') == std::string::npos) return "COM" + std::to_string(PortArg(port).Number());
    std::string name = port;
    for (char& c : name)
        if (c == '/') c = '_';
    return name;
}

std::string LockPath(const std::string& port) {
    const std::string dir = PortMap::PortDirectory();
    return dir.empty() ? std::string() : dir + "/station-locks/" + LockName(port);
}

std::string Label(const std::string& port) {
    return port.find('/') == std::string::npos ? LockName(port) : port;
}

std::string OwnerText(const std::string& port, const std::string& path) {
    std::ifstream in(path);
    std::string pid;
    std::getline(in, pid);
    return Label(port) + " is served by a running station" + (pid.empty() ? "" : " (PID " + pid + ")") +
           ": end that station first";
}
}  // namespace

std::unique_ptr<TPortOwner> TPortOwner::Take(const std::string& port, std::string& why) {
    std::unique_ptr<TPortOwner> owner(new TPortOwner);
    const std::string path = LockPath(port);
    if (path.empty()) return owner;  // no port directory: nothing to share a lock through
    std::error_code ec;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ec);
    owner->fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (owner->fd_ < 0) return owner;  // a lock that cannot be made does not stop the bench
    if (flock(owner->fd_, LOCK_EX | LOCK_NB) != 0) {
        close(owner->fd_);
        owner->fd_ = -1;  // the owner's PID stays in the file
        why = OwnerText(port, path);
        return nullptr;
    }
    const std::string pid = std::to_string(getpid()) + "\n";
    if (ftruncate(owner->fd_, 0) == 0) (void)!pwrite(owner->fd_, pid.data(), pid.size(), 0);
    return owner;
}

TPortOwner::~TPortOwner() {
    if (fd_ < 0) return;
    (void)!ftruncate(fd_, 0);
    close(fd_);
}

std::string TPortOwner::OwnedBy(const std::string& port) {
    const std::string path = LockPath(port);
    if (path.empty()) return {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    const bool owned = flock(fd, LOCK_SH | LOCK_NB) != 0 && errno == EWOULDBLOCK;
    close(fd);
    return owned ? OwnerText(port, path) : std::string();
}

}  // namespace tolm::cli
