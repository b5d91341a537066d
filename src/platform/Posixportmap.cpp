#include "platform/Portmap.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>

#include "platform/Posixportassign.h"
#include "toolkit/Files.h"

namespace tolm::PortMap {

namespace {
std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::string(value) : std::string();
}
}  // namespace

std::string PortDirectory() {
    if (auto dir = Env("TOLM_PORT_DIR"); !dir.empty()) return dir;
    if (auto config = Env("XDG_CONFIG_HOME"); !config.empty()) return config + "/tolm-upgrade/ports";
    if (auto home = HomeDirectory(); !home.empty()) return home + "/.config/tolm-upgrade/ports";
    return {};
}

std::string EntryPath(int port) {
    if (port < 1) return {};
    auto dir = PortDirectory();
    if (dir.empty()) return {};
    return dir + "/COM" + std::to_string(port);
}

std::string DevicePath(int port) {
    if (port < 1) return {};
    // lstat: a link whose device is gone still names this port, so opening it
    // fails instead of silently reaching a built-in port.
    auto entry = EntryPath(port);
    struct stat st {};
    if (!entry.empty() && lstat(entry.c_str(), &st) == 0) return entry;
    return "/dev/ttyS" + std::to_string(port - 1);
}

TPortResolution ResolvePort(int port) {
    if (port < 1) return {{}, ENOENT};
    return ResolvePortNumber(port);
}

bool PortPresent(int port) {
    const std::string path = ResolvePort(port).Path;
    struct stat st {};
    return !path.empty() && stat(path.c_str(), &st) == 0;
}

}  // namespace tolm::PortMap
