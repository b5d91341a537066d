#pragma once
// The port numbers of the serial ports this workstation has, for the
// window's port list: on Linux the ports the port directory and sysfs show,
// after giving new adapters their numbers (Portnumbers.cpp); on Windows the
// COM numbers that port discovery finds in the registry (Win32portnumbers.cpp).
#include <vector>

namespace tolm {

// In increasing order, each once.
std::vector<int> WorkstationPortNumbers();

}  // namespace tolm
