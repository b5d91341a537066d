#pragma once
// Port numbers to device paths. Port n is the entry COMn (a link to the
// device, or the device itself) in the port directory when that entry exists,
// otherwise the built-in port /dev/ttyS(n-1). On Windows port n is "\\.\COMn"
// and there is no port directory (Win32portmap.cpp).
#include <string>

namespace tolm::PortMap {

// $TOLM_PORT_DIR when set, else $XDG_CONFIG_HOME/tolm-upgrade/ports, else
// ~/.config/tolm-upgrade/ports. Empty when none of them can be formed.
std::string PortDirectory();

// Path of the entry COMn in the port directory (whether it exists or not);
// empty for a port number below 1.
std::string EntryPath(int port);

// The device path port n is opened by; empty for a port number below 1.
std::string DevicePath(int port);

}  // namespace tolm::PortMap
