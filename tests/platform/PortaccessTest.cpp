// A port's state for this account and the hint for a port refused by its
// permissions, on pseudo-terminals and a made-up /proc tree.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>

#include "TestSupport.h"
#include "platform/Portaccess.h"

using namespace tolm;
using namespace tolm::test;

namespace {

// A process in procRoot that holds each of targets open, named command.
void FakeProcess(const TempDir& proc, int pid, const std::string& command, const std::vector<std::string>& targets,
                 const std::string& fdinfo = {}) {
    const std::string dir = proc.File(std::to_string(pid));
    std::filesystem::create_directories(dir + "/fd");
    std::filesystem::create_directories(dir + "/fdinfo");
    proc.Write(std::to_string(pid) + "/comm", command + "\n");
    int fd = 3;
    for (const std::string& target : targets) {
        std::filesystem::create_symlink(target, dir + "/fd/" + std::to_string(fd));
        if (!fdinfo.empty()) proc.Write(std::to_string(pid) + "/fdinfo/" + std::to_string(fd), fdinfo);
        ++fd;
    }
}

int PtsIndex(const std::string& slave) { return std::stoi(slave.substr(slave.rfind('/') + 1)); }

// The state of path as seen by an account without rights to it: root gives
// the probe to an unprivileged user in a child process, anyone else takes
// their own rights to the device away.
TPortState StateWithoutAccess(const std::string& path) {
    if (geteuid() != 0) {
        chmod(path.c_str(), 0);
        const TPortState state = ProbePortAccess(path).State;
        chmod(path.c_str(), 0620);
        return state;
    }
    chmod(path.c_str(), 0600);
    const pid_t child = fork();
    if (child == 0) {
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(100);
        _exit(static_cast<int>(ProbePortAccess(path).State));
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? static_cast<TPortState>(WEXITSTATUS(status)) : TPortState::Free;
}

}  // namespace

// The line's states, learnt without opening it: an open raises DTR and RTS,
// which resets many boards, so the probe must not open the device at all.
TEST(PortAccess, FreeInUseNoPermissionAndAbsentWithoutOpeningTheLine) {
    TempDir proc;
    PtyPair line;
    const std::string slave = line.SlavePath();
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(inotify_add_watch(watch, slave.c_str(), IN_OPEN), 0);

    // This process holds both ends of the line; an emulated device that holds
    // the master (tty-index) is the line's far end, not a user of the port.
    FakeProcess(proc, 4343, "tolm-devsim", {slave, "/dev/ptmx"}, "pos:\t0\ntty-index:\t" +
                                                                    std::to_string(PtsIndex(slave)) + "\n");
    EXPECT_EQ(PortAccessText(ProbePortAccess(slave, proc.Path())), "free");

    // A process name is the process's own choice: it reaches the terminal escaped.
    FakeProcess(proc, 4242, "mini\x1b]2;owned\x07" "com", {"/dev/null", slave});
    const TPortAccess used = ProbePortAccess(slave, proc.Path());
    EXPECT_EQ(used.State, TPortState::InUse);
    EXPECT_EQ(PortAccessText(used), "in use by 4242 (mini\\x1b]2;owned\\x07com)");

    // Locked by a process whose descriptors /proc hides (another account's):
    // /proc/locks still tells; one only waiting for the lock holds nothing.
    struct stat node {};
    ASSERT_EQ(stat(slave.c_str(), &node), 0);
    char where[64];
    std::snprintf(where, sizeof where, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    TempDir lockProc;
    lockProc.Write("locks", std::string("1: POSIX  ADVISORY  WRITE 99 fe:00:1234 0 EOF\n") +
                                "2: FLOCK  ADVISORY  WRITE 5151 " + where + " 0 EOF\n" +
                                "2: -> FLOCK  ADVISORY  WRITE 5252 " + where + " 0 EOF\n");
    EXPECT_EQ(PortAccessText(ProbePortAccess(slave, lockProc.Path())), "in use by 5151");

    EXPECT_EQ(StateWithoutAccess(slave), TPortState::NoPermission);

    TempDir dir;
    dir.Write("file", "not a line");
    EXPECT_EQ(ProbePortAccess(dir.File("file")).State, TPortState::Absent);
    EXPECT_EQ(ProbePortAccess(dir.File("gone")).State, TPortState::Absent);
    EXPECT_EQ(ProbePortAccess("").State, TPortState::Absent);

    inotify_event events[8];
    EXPECT_LT(read(watch, events, sizeof events), 0) << "the probe opened the line";
    close(watch);
}

// A process that reaches the line through another node of the same device
// (made with mknod, as in a container) holds it too.
TEST(PortAccess, AnotherNodeOfTheSameDeviceCounts) {
    if (geteuid() != 0) GTEST_SKIP() << "making a device node needs root";
    PtyPair line;
    struct stat node {};
    ASSERT_EQ(stat(line.SlavePath().c_str(), &node), 0);
    TempDir dir, proc;
    ASSERT_EQ(mknod(dir.File("copy").c_str(), S_IFCHR | 0600, node.st_rdev), 0);
    FakeProcess(proc, 4545, "picocom", {dir.File("copy")});
    EXPECT_EQ(PortAccessText(ProbePortAccess(line.SlavePath(), proc.Path())), "in use by 4545 (picocom)");
}

TEST(PortAccess, HintNamesTheDeviceItsGroupAndTheFix) {
    TempDir dir;
    dir.Write("ttyUSB0", "");
    const std::string device = dir.File("ttyUSB0");
    std::filesystem::create_symlink(device, dir.File("COM3"));

    EXPECT_EQ(PortAccessHint(dir.File("COM3"), ENOENT), "");
    EXPECT_EQ(PortAccessHint(dir.File("COM3"), EBUSY), "");

    // A group that may read and write: joining it is the fix.
    const group* dialout = getgrnam("dialout");
    if (geteuid() == 0 && dialout) {
        ASSERT_EQ(chown(device.c_str(), 0, dialout->gr_gid), 0);
        chmod(device.c_str(), 0660);
        EXPECT_EQ(PortAccessHint(dir.File("COM3"), EACCES),
                  "permission denied on " + device +
                      " (group dialout): add your account to it with `sudo usermod -aG dialout $USER`, then log in again");
    }
    // A device only its owner may use: no group helps.
    chmod(device.c_str(), 0600);
    const std::string ownerOnly = PortAccessHint(dir.File("COM3"), EACCES);
    EXPECT_EQ(ownerOnly.rfind("permission denied on " + device + " (owner ", 0), 0u) << ownerOnly;
    EXPECT_NE(ownerOnly.find("mode 0600): ask an administrator"), std::string::npos) << ownerOnly;
    EXPECT_EQ(ownerOnly.find("usermod"), std::string::npos) << ownerOnly;
}
