#pragma once
// The serial ports of this workstation that a port number reaches, with a
// readable name for each, found in the port directory, /dev and sysfs (and
// the hardware database of libudev where available).
//
// A port number n reaches the entry COMn of the port directory when there is
// one, else the built-in port /dev/ttyS(n-1). A port exists when what it
// reaches exists; a built-in port only when sysfs shows a real UART behind it
// (class/tty/ttySk/device exists and its type is not 0, "unknown").
#include <optional>
#include <string>
#include <vector>

namespace tolm {

enum class TSerialPortKind {
    BuiltIn,    // a UART of the workstation itself (ttyS, or another tty with a platform device)
    Usb,        // a USB serial adapter
    Bluetooth,  // a Bluetooth serial link (rfcomm)
    Other       // anything else that exists, e.g. a pseudo-terminal; it has no readable name
};

struct TSerialPortInfo {
    int Number = 0;              // 1 for COM1
    std::string DevicePath;      // what the port number reaches: port-directory entry or /dev/ttySk
    std::string KernelName;      // the tty the path resolves to ("ttyUSB0"); may be empty
    TSerialPortKind Kind = TSerialPortKind::Other;
    std::string Description;     // readable name without the port tag (control characters as \xNN); empty for Other
    std::string UsbVendorId;     // four lower-case hex digits (USB only)
    std::string UsbProductId;
    std::string UsbSerial;       // the adapter's serial number, when it has one (USB only)
    std::string UsbLocation;     // its place on the bus, e.g. "1-2" (USB only)
    std::string UsbInterface;    // the interface the tty belongs to, two hex digits ("00"; USB only)
    std::string UsbPortInInterface;  // the port within that interface where a driver has several ("1"), else empty
    std::string UsbPlace;        // bus, hub ports and interface: the interface's sysfs name ("1-2.4:1.0")
    std::string BluetoothAddress;  // remote device address (Bluetooth only, when known)
    std::string BluetoothChannel;  // RFCOMM channel (Bluetooth only, when known)

    std::string PortName() const { return "COM" + std::to_string(Number); }
    // "FT232R USB UART (COM5)"; empty when there is no description.
    std::string ReadableName() const;
};

struct TSysfsLocations {
    std::string SysfsRoot = "/sys";
    std::string DevRoot = "/dev";
    std::string PortDir;  // empty: the port directory named by the environment
};

// The port directory: $TOLM_PORT_DIR, else $XDG_CONFIG_HOME/tolm-upgrade/ports,
// else ~/.config/tolm-upgrade/ports.
std::string SysfsPortDirectory();

// The decimal number that follows prefix in name, without leading zeros
// ("COM12" after "COM" is 12); nothing when name is not so made.
std::optional<int> NumberAfterPrefix(const std::string& name, const std::string& prefix);

// text with every control character, and every byte that is not part of
// valid UTF-8, written as \xNN: names that a device or another account chose
// can then be printed to a terminal without acting on it.
std::string EscapeControls(const std::string& text);

// What sysfs tells of the tty kernelName ("ttyUSB0"): kind, readable name and ids.
// Number and DevicePath are left empty.
TSerialPortInfo DescribeTty(const std::string& kernelName, const TSysfsLocations& where = {});

// Every existing port, in port-number order, each once.
std::vector<TSerialPortInfo> FindSerialPorts(const TSysfsLocations& where = {});

}  // namespace tolm
