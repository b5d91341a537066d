#include "platform/Posixdevicetree.h"

#include <sys/utsname.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "platform/Devicetreekeys.h"

namespace tolm {

namespace {

namespace keys = devicetree_keys;

std::string Upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string FourDigits(int n) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d", n);
    return text;
}

// A device instance key: the tty's name, tagged with the port so that two
// numbers linked to one device stay two instances.
std::string InstanceKey(const TSerialPortInfo& port) {
    std::string key = (port.KernelName.empty() ? std::string("port") : port.KernelName) + "&" + port.PortName();
    for (auto& c : key)
        if (c == '\\') c = '_';  // a separator in a file name must not split the key
    return key;
}

}  // namespace

TMemoryDeviceTree BuildSerialDeviceTree(const std::vector<TSerialPortInfo>& ports) {
    TMemoryDeviceTree tree;
    tree.AddKey(keys::kSerialDeviceMap);
    tree.AddKey(keys::kSerialPortClass);
    tree.AddKey(keys::kEnumBluetoothPorts);

    int classEntries = 0;
    auto addClassEntry = [&](const std::string& matchingId) {
        tree.SetValue(std::string(keys::kSerialPortClass) + "\\" + FourDigits(classEntries++), keys::kMatchingDeviceId,
                      matchingId);
    };
    bool builtInClassAdded = false;
    std::set<std::string> usbIdsAdded;
    int bluetoothEntries = 0;

    for (const auto& port : ports) {
        tree.SetValue(keys::kSerialDeviceMap, port.DevicePath, port.PortName());
        const std::string name = port.ReadableName();
        if (name.empty()) continue;
        switch (port.Kind) {
            case TSerialPortKind::BuiltIn: {
                if (!builtInClassAdded) {
                    addClassEntry(keys::kBuiltInPortId);
                    builtInClassAdded = true;
                }
                std::string id = std::string(keys::kBuiltInPortId).substr(1);  // the id without its "*"
                tree.SetValue(std::string(keys::kEnumAcpi) + id + "\\" + InstanceKey(port), keys::kFriendlyName, name);
                break;
            }
            case TSerialPortKind::Usb: {
                std::string id = "vid_" + port.UsbVendorId + "&pid_" + port.UsbProductId;
                if (usbIdsAdded.insert(id).second) addClassEntry("usb\\" + id);
                tree.SetValue(std::string(keys::kEnumUsb) + Upper(id) + "\\" + InstanceKey(port), keys::kFriendlyName,
                              name);
                break;
            }
            case TSerialPortKind::Bluetooth:
                tree.SetValue(std::string(keys::kEnumBluetoothPorts) + "\\" + FourDigits(bluetoothEntries++),
                              keys::kFriendlyName, name);
                break;
            case TSerialPortKind::Other:
                break;
        }
    }
    return tree;
}

TSysfsDeviceTree::TSysfsDeviceTree(const TSysfsLocations& where)
    : ports_(FindSerialPorts(where)), tree_(BuildSerialDeviceTree(ports_)) {}

std::shared_ptr<const TDeviceTree> MakeWorkstationDeviceTree() { return std::make_shared<TSysfsDeviceTree>(); }

// There is no version query of that kind here. The workstation's tree presents
// its ports in the layout of major version 5 (serial-port class and device
// enumeration keys), so the record reports 5.1 and discovery takes that branch;
// the kernel's name and release go in the service-pack text for information.
bool QueryOSVersion(TOSVersionInfo& info) {
    utsname system{};
    if (uname(&system) != 0) return false;
    info.dwMajorVersion = 5;
    info.dwMinorVersion = 1;
    info.dwPlatformId = 2;  // the NT line, to which the version-5 layout belongs
    std::string text = std::string(system.sysname) + " " + system.release;
    std::strncpy(info.szCSDVersion, text.c_str(), sizeof info.szCSDVersion - 1);
    return true;
}

}  // namespace tolm
