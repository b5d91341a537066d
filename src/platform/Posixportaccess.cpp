#include "platform/Portaccess.h"

#include "platform/Posixserialports.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace tolm {

namespace {

// The pseudo-terminal number of /dev/pts/N, or -1 for any other device.
int PtsIndex(const std::string& path) {
    constexpr std::string_view prefix = "/dev/pts/";
    if (path.compare(0, prefix.size(), prefix) != 0) return -1;
    const std::string digits = path.substr(prefix.size());
    if (digits.empty() || digits.find_first_not_of("0123456789") != std::string::npos) return -1;
    return std::atoi(digits.c_str());
}

std::string ReadLinkText(const std::string& path) {
    char buf[4096];
    const ssize_t n = readlink(path.c_str(), buf, sizeof buf - 1);
    return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
}

// True when the process holds the master side of pseudo-terminal index: it is
// the line's far end (an emulated device, a terminal), not a user of the port.
bool HoldsPtyMaster(const std::string& procDir, int index) {
    DIR* dir = opendir((procDir + "/fd").c_str());
    if (!dir) return false;
    bool found = false;
    const std::string wanted = "tty-index:\t" + std::to_string(index);
    while (dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const std::string target = ReadLinkText(procDir + "/fd/" + e->d_name);
        if (target.size() < 4 || target.compare(target.size() - 4, 4, "ptmx") != 0) continue;
        std::ifstream info(procDir + "/fdinfo/" + e->d_name);
        for (std::string line; std::getline(info, line);) {
            if (line == wanted) found = true;
        }
        if (found) break;
    }
    closedir(dir);
    return found;
}

// The processes holding a lock on the node of device, from a /proc/locks
// table: "1: FLOCK  ADVISORY  WRITE 4321 00:05:1042 0 EOF" (device numbers in
// hex, inode in decimal; a lock waited for has "->" after the number). An open
// file description lock has no process: it gives pid 0.
std::vector<pid_t> LockHolders(const struct stat& device, const std::string& locksPath) {
    std::vector<pid_t> pids;
    std::ifstream locks(locksPath);
    for (std::string line; std::getline(locks, line);) {
        std::istringstream fields(line);
        std::string number, type, mode, access, pidText, where;
        fields >> number >> type;
        if (type == "->") continue;  // waiting, not holding
        fields >> mode >> access >> pidText >> where;
        unsigned major = 0, minor = 0;
        unsigned long long inode = 0;
        if (std::sscanf(where.c_str(), "%x:%x:%llu", &major, &minor, &inode) != 3) continue;
        if (major != ::major(device.st_dev) || minor != ::minor(device.st_dev) || inode != device.st_ino) continue;
        const long pid = std::strtol(pidText.c_str(), nullptr, 10);
        const pid_t holder = pid > 0 ? static_cast<pid_t>(pid) : 0;
        if (std::find(pids.begin(), pids.end(), holder) == pids.end()) pids.push_back(holder);
    }
    return pids;
}

// The process's name; for a program started through /proc/self/exe (the
// runs of a station or of a multi-port upgrade), which the kernel names
// "exe", the name of its program file.
std::string CommandOf(const std::string& procDir) {
    std::ifstream comm(procDir + "/comm");
    std::string name;
    std::getline(comm, name);
    if (name == "exe") {
        char target[4096];
        const ssize_t n = readlink((procDir + "/exe").c_str(), target, sizeof target - 1);
        if (n > 0) {
            std::string program(target, static_cast<size_t>(n));
            if (const size_t slash = program.rfind('/'); slash != std::string::npos) program.erase(0, slash + 1);
            if (!program.empty()) name = program;
        }
    }
    return name;
}

std::string GroupName(gid_t gid) {
    if (const group* g = getgrgid(gid)) return g->gr_name;
    return std::to_string(gid);
}

std::string OwnerName(uid_t uid) {
    if (const passwd* p = getpwuid(uid)) return p->pw_name;
    return std::to_string(uid);
}

}  // namespace

std::string PortAccessText(const TPortAccess& access) {
    std::string text = PortStateText(access.State);
    if (access.State != TPortState::InUse || access.Holders.empty()) return text;
    text += " by";
    for (size_t i = 0; i < access.Holders.size(); ++i) {
        const TPortHolder& h = access.Holders[i];
        text += (i ? ", " : " ") + std::to_string(h.Pid);
        if (!h.Command.empty()) text += " (" + h.Command + ")";
    }
    return text;
}

std::vector<TPortHolder> FindPortHolders(const std::string& path, const std::string& procRoot) {
    std::vector<TPortHolder> holders;
    struct stat device {};
    if (stat(path.c_str(), &device) != 0) return holders;
    char resolved[PATH_MAX];
    const int ptsIndex = realpath(path.c_str(), resolved) ? PtsIndex(resolved) : -1;
    const pid_t self = getpid();
    // Another node of the same character device (a copy made with mknod, a
    // node in a container) reaches the same line.
    auto sameDevice = [&device](const struct stat& target) {
        if (S_ISCHR(device.st_mode)) return S_ISCHR(target.st_mode) && target.st_rdev == device.st_rdev;
        return target.st_dev == device.st_dev && target.st_ino == device.st_ino;
    };

    DIR* proc = opendir(procRoot.c_str());
    if (!proc) return holders;
    while (dirent* p = readdir(proc)) {
        char* end = nullptr;
        const long pid = std::strtol(p->d_name, &end, 10);
        if (pid <= 0 || *end != '\0' || pid == self) continue;
        const std::string procDir = procRoot + "/" + p->d_name;
        DIR* fds = opendir((procDir + "/fd").c_str());
        if (!fds) continue;  // another account's process, or gone
        bool holds = false;
        while (dirent* f = readdir(fds)) {
            if (f->d_name[0] == '.') continue;
            struct stat target {};
            if (stat((procDir + "/fd/" + f->d_name).c_str(), &target) != 0) continue;
            if (sameDevice(target)) {
                holds = true;
                break;
            }
        }
        closedir(fds);
        if (holds && (ptsIndex < 0 || !HoldsPtyMaster(procDir, ptsIndex)))
            holders.push_back({static_cast<pid_t>(pid), EscapeControls(CommandOf(procDir))});
    }
    closedir(proc);

    // A lock shows its holder even where the holder's descriptors are hidden.
    for (const pid_t pid : LockHolders(device, procRoot + "/locks")) {
        if (pid == self) continue;
        const bool known = std::any_of(holders.begin(), holders.end(), [pid](const TPortHolder& h) { return h.Pid == pid; });
        if (known) continue;
        holders.push_back({pid, pid > 0 ? EscapeControls(CommandOf(procRoot + "/" + std::to_string(pid))) : std::string()});
    }
    return holders;
}

TPortAccess ProbePortAccess(const std::string& path, const std::string& procRoot) {
    TPortAccess access;
    struct stat st {};
    if (path.empty() || stat(path.c_str(), &st) != 0) {
        access.State = !path.empty() && errno == EACCES ? TPortState::NoPermission : TPortState::Absent;
        return access;
    }
    if (!S_ISCHR(st.st_mode)) return access;  // not a serial line: Absent
    if (faccessat(AT_FDCWD, path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        access.State = errno == EACCES || errno == EPERM || errno == EROFS ? TPortState::NoPermission : TPortState::Absent;
        return access;
    }
    access.Holders = FindPortHolders(path, procRoot);
    access.State = access.Holders.empty() ? TPortState::Free : TPortState::InUse;
    return access;
}

std::string PortAccessHint(const std::string& path, int error) {
    if (error == ENOLCK)
        return "the port directory could not be locked, so it is not sure that this number still reaches its "
               "adapter; `tolm-upgrade-cli ports` tells why";
    if (error != EACCES && error != EPERM) return {};
    char resolved[PATH_MAX];
    const std::string device = realpath(path.c_str(), resolved) ? std::string(resolved) : path;
    struct stat st {};
    if (stat(device.c_str(), &st) != 0) return "permission denied on " + device;
    const std::string group = GroupName(st.st_gid);
    // Joining the group helps only when the group may read and write the device.
    if (st.st_gid != 0 && (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        return "permission denied on " + device + " (group " + group + "): add your account to it with `sudo usermod -aG " +
               group + " $USER`, then log in again";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "permission denied on " + device + " (owner " + OwnerName(st.st_uid) + ", group " + group + ", mode " + mode +
           "): ask an administrator to give your account read and write access to it";
}

}  // namespace tolm
