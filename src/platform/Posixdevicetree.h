#pragma once
// The workstation's serial ports presented as a device tree under the keys
// port discovery reads (Devicetreekeys.h):
//   - the serial device map: a value per existing port, its text "COMn";
//   - the serial-port class: a subkey per kind, MatchingDeviceId "*PNP0501"
//     for built-in ports and "usb\vid_xxxx&pid_yyyy" per kind of USB adapter;
//   - ACPI\PNP0501\<instance> and USB\VID_xxxx&PID_yyyy\<instance> with the
//     FriendlyName "Communications Port (COM1)", "FT232R USB UART (COM5)";
//   - Root\PORTS\<nnnn> with the FriendlyName of each Bluetooth serial link.
// Ports without a readable name appear in the device map only.
#include <vector>

#include "platform/Devicetree.h"
#include "platform/Posixserialports.h"

namespace tolm {

// The tree for a list of ports.
TMemoryDeviceTree BuildSerialDeviceTree(const std::vector<TSerialPortInfo>& ports);

// A snapshot of the ports found when it is made.
class TSysfsDeviceTree : public TDeviceTree {
public:
    explicit TSysfsDeviceTree(const TSysfsLocations& where = {});

    const std::vector<TSerialPortInfo>& Ports() const { return ports_; }

    bool KeyExists(const std::string& path) const override { return tree_.KeyExists(path); }
    std::vector<std::string> KeyNames(const std::string& path) const override { return tree_.KeyNames(path); }
    std::vector<std::string> ValueNames(const std::string& path) const override { return tree_.ValueNames(path); }
    std::optional<std::string> ReadString(const std::string& path, const std::string& name) const override {
        return tree_.ReadString(path, name);
    }

private:
    std::vector<TSerialPortInfo> ports_;
    TMemoryDeviceTree tree_;
};

}  // namespace tolm
