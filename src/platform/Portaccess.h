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
    pid_t Pid = 0;
    std::string Command;  // the process's name, empty when /proc hides it
};

struct TPortAccess {
    TPortState State = TPortState::Absent;
    std::vector<TPortHolder> Holders;  // only for InUse; may be empty (another account's process)
};

// "free", "in use", "no permission", "absent".
const char* PortStateText(TPortState state);
// The state with the holders: "in use by 1234 (minicom)".
std::string PortAccessText(const TPortAccess& access);

// Classifies a device path by trying to open it as the port driver would
// (read and write, exclusive) and by looking through procRoot/<pid>/fd for
// other processes that hold the same device. Leaves nothing open.
TPortAccess ProbePortAccess(const std::string& path, const std::string& procRoot = "/proc");

// The processes other than this one with an open descriptor on the device at
// path; those of other accounts are found only with the right to look.
std::vector<TPortHolder> FindPortHolders(const std::string& path, const std::string& procRoot = "/proc");

// For an open of path refused with error (an errno value): a line naming the
// device, its group and the fix when the error is a permission refusal, e.g.
//   permission denied on /dev/ttyUSB0 (group dialout): add your account to it
//   with `sudo usermod -aG dialout $USER`, then log in again
// Empty for any other error. On Windows (Win32portaccess.cpp), where any
// account may open a free port, the hint is for a port held by another
// program (EBUSY): "COM7 is in use by another program".
std::string PortAccessHint(const std::string& path, int error);

}  // namespace tolm
