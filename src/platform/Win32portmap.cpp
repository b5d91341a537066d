// On Windows a port number is a COM number: port n is the device "\\.\COMn",
// with no port directory and no links.
#include "platform/Portmap.h"

#include "toolkit/Win32text.h"

#include <windows.h>

namespace tolm::PortMap {

std::string PortDirectory() { return {}; }

std::string EntryPath(int /*port*/) { return {}; }

std::string DevicePath(int port) {
    if (port < 1) return {};
    return "\\\\.\\COM" + std::to_string(port);
}

// Nothing to bring up to date: the number is the port's own.
TPortResolution ResolvePort(int port) { return {DevicePath(port), 0}; }

bool PortPresent(int port) {
    if (port < 1) return false;
    // The system's COM ports are names in its device namespace.
    wchar_t target[1024];
    if (QueryDosDeviceW((L"COM" + std::to_wstring(port)).c_str(), target, 1024) != 0) return true;
    // Wine also reaches a COM port through a link in the prefix's dosdevices
    // folder, which that namespace does not show. Asked for its attributes, a
    // port that is there answers that it has none to give; one that is not,
    // that it is not found.
    if (GetFileAttributesW(Utf8ToWide(DevicePath(port)).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND && error != ERROR_BAD_DEV_TYPE;
}

}  // namespace tolm::PortMap
