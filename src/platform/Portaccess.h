#pragma once
// What a port is to this account: free to open, in use by another process,
// shut out by the device's permissions, or not there at all; and, when an
// open was refused by the permissions, a hint that tells the operator how to
// get access. The serial logic keeps its result codes; this is what the
// front ends show beside them.
#include <string>
#include <sys/types.h>
#include <vector>

namespace tolm {

enum class TPortState { Free, InUse, NoPermission, Absent };

// A process that holds the device open, as /proc tells.
struct TPortHolder {
    pid_t Pid = 0;        // 0 when only an anonymous lock tells that the device is held
    std::string Command;  // the process's name (control characters as \xNN), empty when /proc hides it
};

struct TPortAccess {
    TPortState State = TPortState::Absent;
    std::vector<TPortHolder> Holders;  // only for InUse; may be empty (another account's process)
};

// "free", "in use", "no permission", "absent".
const char* PortStateText(TPortState state);
// The state with the holders: "in use by 1234 (minicom)".
std::string PortAccessText(const TPortAccess& access);

// Classifies a device path without opening it: opening a tty raises its
// modem lines (DTR, RTS), which resets many boards, and a probe's lock could
// make an upgrade starting at that moment fail. Permission comes from
// access(2), holders from procRoot/<pid>/fd and locks from procRoot/locks.
TPortAccess ProbePortAccess(const std::string& path, const std::string& procRoot = "/proc");

// The processes other than this one with an open descriptor on the device at
// path, through whichever node they reached it (a character device is matched
// by its device number); those of other accounts are found only with the
// right to look. Then the holders of a lock on path's node that /proc/locks
// shows and the first search missed.
std::vector<TPortHolder> FindPortHolders(const std::string& path, const std::string& procRoot = "/proc");

// For an open of path refused with error (an errno value): a line naming the
// device, its group and the fix when the error is a permission refusal, e.g.
//   permission denied on /dev/ttyUSB0 (group dialout): add your account to it
//   with `sudo usermod -aG dialout $USER`, then log in again
// ENOLCK (an automatic port number that could not be checked because the port
// directory could not be locked) gets a line of its own. Empty for any other error.
// On Windows (Win32portaccess.cpp), where any account may open a free port,
// the hint is for a port held by another program (EBUSY): "COM7 is in use by
// another program".
std::string PortAccessHint(const std::string& path, int error);

}  // namespace tolm
