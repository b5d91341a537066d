#pragma once
// Gives plugged-in adapters (ttyUSB*, ttyACM*, rfcomm*) port numbers of their
// own, so that an operator can pick them from the port list without linking
// them by hand.
//
// An adapter that no COMn entry of the port directory names gets the lowest
// free number above the built-in ports (the ttyS lines sysfs shows a real
// UART behind; with none, numbering starts at 1). The entry records the
// adapter under its stable identity, so it keeps its number when plugged in
// again:
//   - COMn -> /dev/serial/by-id/<name> where udev made such a link;
//   - otherwise COMn -> /dev/<tty> plus the text file COMn.id holding
//     "usb-<vendor>-<product>-<serial>" (or "bluetooth-<address>-<channel>").
//     Each lookup points such an entry at the tty the adapter has now, or at
//     nothing (a dangling link) while it is unplugged, so its number never
//     reaches another adapter that took over its tty name.
// Entries without an identity file (made by `ports link`) are never changed.
#include <string>
#include <vector>

#include "platform/Sysfsserialports.h"

namespace tolm {

struct TPortAssignment {
    int Number = 0;        // 3 for COM3
    std::string Device;    // what the new entry points at
    std::string Identity;  // the by-id name or the sysfs identity
};

// Name of the identity file beside the entry COMn.
std::string IdentityFileName(int number);

// Brings the assigned entries up to date and assigns numbers to adapters that
// have none; returns the assignments made by this call. Never throws: an
// entry that cannot be written is left out.
std::vector<TPortAssignment> AssignAdapterPorts(const TSysfsLocations& where = {});

}  // namespace tolm
