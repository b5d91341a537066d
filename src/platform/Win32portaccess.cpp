// What a COM port is to this program on Windows: free, in use by another
// program, or absent. Windows does not tell which program holds a port, so
// there are no holders, and no permission hint: any account may open a COM
// port that no one holds.
#include "platform/Portaccess.h"

#include <cerrno>

#include "platform/Win32serialdevice.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tolm {

namespace {
// "COM7" of "\\.\COM7".
std::string PortName(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::string PortAccessText(const TPortAccess& access) {
    if (access.State == TPortState::InUse) return "in use by another program";
    return PortStateText(access.State);
}

TPortAccess ProbePortAccess(const std::string& path, const std::string& /*procRoot*/) {
    TPortAccess access;
    if (path.empty()) return access;
    // Opened as the port driver opens it: read and write, exclusive; and
    // closed again at once, with nothing set in between, so DTR and RTS stay
    // as the driver has them. Windows tells no other way; `ports` asks only
    // when told to (--probe).
    HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        access.State = error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION || error == ERROR_BUSY
                           ? TPortState::InUse
                           : TPortState::Absent;
        return access;
    }
    CloseHandle(port);
    // Under Wine a held port opens all the same; our programs mark the ports they hold.
    HANDLE lock = OpenMutexW(SYNCHRONIZE, FALSE, PortLockName(path).c_str());
    if (lock) {
        CloseHandle(lock);
        access.State = TPortState::InUse;
    } else {
        access.State = TPortState::Free;
    }
    return access;
}

std::vector<TPortHolder> FindPortHolders(const std::string& /*path*/, const std::string& /*procRoot*/) { return {}; }

std::string PortAccessHint(const std::string& path, int error) {
    if (error != EBUSY) return {};
    return PortName(path) + " is in use by another program";
}

}  // namespace tolm
