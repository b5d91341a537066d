#pragma once
// The serial ports this workstation has, for the window's port list: on
// Linux the ports the port directory and sysfs show, after giving new
// adapters their numbers (Posixportnumbers.cpp); on Windows the COM ports that
// port discovery finds in the registry (Win32portnumbers.cpp).
#include <string>
#include <vector>

namespace tolm {

struct TWorkstationPort {
    int Number = 0;    // 3 for COM3
    std::string Name;  // the readable device name ("USB Serial Port (COM3)"); may be empty
};

// In increasing order of number, each once.
std::vector<TWorkstationPort> WorkstationPorts();

}  // namespace tolm
