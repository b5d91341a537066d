#pragma once
// Gives plugged-in adapters (ttyUSB*, ttyACM*, rfcomm*) port numbers of their
// own, keeps each number on its adapter, and resolves a port number to the
// device to open, all under one lock on the port directory.
//
// An adapter that no COMn entry of the port directory reaches gets the lowest
// free number above the built-in ports (the ttyS lines sysfs shows a real
// UART behind; with none, numbering starts at 1). COMn then links to the
// adapter's tty, and the record COMn.id beside it holds, one per line:
//   - the adapter's key, from sysfs alone: "usb-<vendor>-<product>-<serial>-if<nn>"
//     (with "-port<k>" for the further ports of one interface, and no serial
//     part when it has none), or "bluetooth-<address>-<channel>". Where that
//     is not enough to tell adapters apart (no serial number, or two adapters
//     present with the same one), "@<place>" follows: the sysfs name of the
//     USB interface, which names the bus, the hub ports and the interface;
//   - "at <place>": where the adapter was last seen;
//   - "to <target>": what the lookup last pointed COMn at.
// Each lookup points such an entry at the tty its adapter has now, or at
// nothing ("unplugged-<key>", a dangling link) while it is unplugged, so its
// number never reaches another adapter that took over its tty name. A key is
// given to one present adapter at most, and an entry is never moved while an
// adapter with its key is present.
//
// Entries without a record, or whose link no longer points where the record
// says (replaced by hand), are the operator's: a lookup leaves them alone.
// Records of earlier versions (a single line: "usb-<vendor>-<product>-<serial>"
// or "usb-<vendor>-<product>-at-<bus position>") are taken over by the first
// present adapter they describe.
#include <string>
#include <vector>

#include "platform/Portmap.h"
#include "platform/Posixserialports.h"

namespace tolm {

struct TPortAssignment {
    int Number = 0;        // 3 for COM3
    std::string Device;    // what the new entry points at
    std::string Identity;  // the adapter's key
};

struct TPortLookup {
    std::vector<TPortAssignment> Made;  // the numbers this lookup gave
    std::string Problem;  // why the lookup could not run (no port directory, no lock); empty when it ran
};

// Name of the record beside the entry COMn.
std::string IdentityFileName(int number);

// Brings the assigned entries up to date and assigns numbers to adapters that
// no entry reaches. Never throws: an entry that cannot be written is left out.
// Without a port directory, or when the directory cannot be locked, nothing is
// written and Problem says why (naming the variable to set when there is no
// directory).
TPortLookup AssignAdapterPorts(const TSysfsLocations& where = {});

// The device that port n reaches, after a lookup made under the same lock:
// the path the entry COMn resolves to, or /dev/ttyS(n-1) when there is no
// entry. Every path that opens a port by number goes through here (through
// PortMap::ResolvePort). When the directory cannot be locked, an automatic
// entry that may be out of date is refused (ENOLCK) rather than opened.
TPortResolution ResolvePortNumber(int port, const TSysfsLocations& where = {});

// `ports link` and `ports unlink`: edit COMn under the lock. A linked entry is
// the operator's, so its record goes. Empty on success, else what went wrong.
std::string LinkPortEntry(int port, const std::string& device, const TSysfsLocations& where = {});
std::string UnlinkPortEntry(int port, const TSysfsLocations& where = {});

}  // namespace tolm
