#pragma once
// The keys and value names under which the device tree presents serial ports
// and port discovery looks for them. They follow the layout discovery was
// written for, so its walk runs unchanged on any tree that presents them.
namespace tolm::devicetree_keys {

// Values: one per existing port; the text is the port name ("COM3").
inline constexpr const char* kSerialDeviceMap = "\\HARDWARE\\DEVICEMAP\\SERIALCOMM";

// Class of serial ports: one subkey per kind of port, each with a MatchingDeviceId.
inline constexpr const char* kSerialPortClass =
    "\\SYSTEM\\CurrentControlSet\\Control\\Class\\{4D36E978-E325-11CE-BFC1-08002BE10318}";
inline constexpr const char* kMatchingDeviceId = "MatchingDeviceId";

// Device enumeration: built-in ports under ACPI\<id>, USB adapters under USB\<vid&pid>,
// each device instance a subkey with a FriendlyName.
inline constexpr const char* kEnumAcpi = "\\SYSTEM\\CurrentControlSet\\Enum\\ACPI\\";
inline constexpr const char* kEnumUsb = "\\SYSTEM\\CurrentControlSet\\Enum\\USB\\";
// FTDI's driver enumerates its adapters itself, under FTDIBUS\<vid+pid+serial>.
inline constexpr const char* kEnumFtdiBus = "\\SYSTEM\\CurrentControlSet\\Enum\\FTDIBUS\\";
// A device instance of the ports class names its port in this subkey's value.
inline constexpr const char* kDeviceParameters = "Device Parameters";
inline constexpr const char* kPortName = "PortName";
// Bluetooth serial links, each a subkey with a FriendlyName.
inline constexpr const char* kEnumBluetoothPorts = "\\SYSTEM\\CurrentControlSet\\Enum\\Root\\PORTS";
inline constexpr const char* kFriendlyName = "FriendlyName";

// The older layout (major versions 1 to 4).
inline constexpr const char* kLegacyPortClass = "\\SYSTEM\\CurrentControlSet\\Services\\Class\\Ports";
inline constexpr const char* kLegacyEnumAcpi = "\\Enum\\ACPI\\";
inline constexpr const char* kLegacyEnumUsbPorts = "\\Enum\\USBPORTS\\";

// Matching id of the standard built-in serial port (a 16550-compatible UART).
inline constexpr const char* kBuiltInPortId = "*PNP0501";

}  // namespace tolm::devicetree_keys
