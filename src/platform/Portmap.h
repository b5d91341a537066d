#pragma once
// Port numbers to device paths. Port n is the entry COMn (a link to the
// device, or the device itself) in the port directory when that entry exists,
// otherwise the built-in port /dev/ttyS(n-1). On Windows port n is "\\.\COMn"
// and there is no port directory (Win32portmap.cpp).
#include <string>

namespace tolm {

struct TPortResolution {
    std::string Path;  // the device to open; empty when the port may not be opened now
    int Error = 0;     // with an empty Path, why (an errno value: ENOLCK when the port map could not be locked)
};

}  // namespace tolm

namespace tolm::PortMap {

// $TOLM_PORT_DIR when set, else $XDG_CONFIG_HOME/tolm-upgrade/ports, else
// ~/.config/tolm-upgrade/ports. Empty when none of them can be formed.
std::string PortDirectory();

// Path of the entry COMn in the port directory (whether it exists or not);
// empty for a port number below 1.
std::string EntryPath(int port);

// The device path port n names in the map as it stands; empty for a port
// number below 1. For showing a port; opening one goes through ResolvePort.
std::string DevicePath(int port);

// The device to open port n by: the adapters' numbers are brought up to date
// first, under the port directory's lock, so that the number reaches the
// adapter it was given to and no other.
TPortResolution ResolvePort(int port);

// True when port n reaches a device now (through ResolvePort), found without
// opening it. On Windows: the system has a COM port of that number
// (QueryDosDevice, or under Wine a link in the prefix's dosdevices folder),
// whether it is free or not.
bool PortPresent(int port);

}  // namespace tolm::PortMap
