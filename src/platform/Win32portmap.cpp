// On Windows a port number is a COM number: port n is the device "\\.\COMn",
// with no port directory and no links.
#include "platform/Portmap.h"

namespace tolm::PortMap {

std::string PortDirectory() { return {}; }

std::string EntryPath(int /*port*/) { return {}; }

std::string DevicePath(int port) {
    if (port < 1) return {};
    return "\\\\.\\COM" + std::to_string(port);
}

// Nothing to bring up to date: the number is the port's own.
TPortResolution ResolvePort(int port) { return {DevicePath(port), 0}; }

}  // namespace tolm::PortMap
