#pragma once
// The readable names that common USB adapters' drivers give their ports,
// which port discovery's walk of the serial-port class misses: FTDI's driver
// keeps its device instances under Enum\FTDIBUS (VID_0403+PID_6001+A1B2C3\0000),
// and Windows's own usbser, the driver of the class "usb\class_02&subclass_02",
// under Enum\USB (VID_2341&PID_0043\<instance>). Each such instance holds its
// FriendlyName ("USB Serial Port (COM5)") and, in its "Device Parameters"
// subkey, the PortName it was given ("COM5"), which ties the name to its
// port exactly. The keys of adapters that are not plugged in stay in the
// tree, so a name found here counts only for a port that exists.
#include <map>
#include <string>

#include "platform/Devicetree.h"

namespace tolm {

// Port number -> readable name, for every device instance under those
// enumerators whose PortName is a COM port and that has a FriendlyName.
std::map<int, std::string> AdapterPortNames(const TDeviceTree& tree);

}  // namespace tolm
