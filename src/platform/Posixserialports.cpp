#include "platform/Posixserialports.h"

#include "platform/Portmap.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>

#ifdef TOLM_HAVE_LIBUDEV
#include <libudev.h>
#endif

namespace fs = std::filesystem;

namespace tolm {

namespace {

bool Exists(const fs::path& path) {
    std::error_code ec;
    return fs::exists(path, ec);
}

// A sysfs attribute as text without its trailing newline and blanks; nothing when unreadable.
std::optional<std::string> ReadAttribute(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::string text(4096, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    text.resize(static_cast<size_t>(in.gcount()));
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= ' ') text.pop_back();
    return text;
}

std::string Lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

[[maybe_unused]] std::string Upper(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The USB device (the directory with idVendor and idProduct) above a tty's
// device, and the interface directory on the way to it, if any.
struct TUsbAbove {
    fs::path Device;
    fs::path Interface;  // empty when the tty's device sits on the USB device itself
};

std::optional<TUsbAbove> UsbDeviceAbove(const fs::path& sysfsRoot, const fs::path& ttyDevice) {
    std::error_code ec;
    fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec) return std::nullopt;
    fs::path dir = fs::canonical(ttyDevice, ec);
    if (ec) return std::nullopt;
    fs::path below;
    for (int depth = 0; depth < 32 && dir != root && dir.has_relative_path(); ++depth) {
        auto [rootEnd, dirAt] = std::mismatch(root.begin(), root.end(), dir.begin(), dir.end());
        if (rootEnd != root.end()) return std::nullopt;  // left the sysfs tree
        if (Exists(dir / "idVendor") && Exists(dir / "idProduct")) return TUsbAbove{dir, below};
        below = dir;
        dir = dir.parent_path();
    }
    return std::nullopt;
}

// The interface number of a USB interface directory: its bInterfaceNumber,
// else the number after the last dot of its name ("1-2:1.3" is interface 3).
std::string InterfaceNumber(const fs::path& interface) {
    if (interface.empty()) return "00";
    if (auto number = ReadAttribute(interface / "bInterfaceNumber"); number && !number->empty()) return Lower(*number);
    const std::string name = interface.filename().string();
    const auto dot = name.rfind('.');
    if (dot == std::string::npos || dot + 1 >= name.size()) return "00";
    std::string digits = name.substr(dot + 1);
    return digits.size() == 1 ? "0" + digits : digits;
}

// The product name the hardware database gives for a USB id, when libudev and a database are present.
std::string UsbModelFromDatabase(const std::string& vendorId, const std::string& productId) {
    std::string model;
#ifdef TOLM_HAVE_LIBUDEV
    struct udev* udev = udev_new();
    if (!udev) return model;
    if (struct udev_hwdb* hwdb = udev_hwdb_new(udev)) {
        // The database keys spell the ids with upper-case hex digits.
        std::string modalias = "usb:v" + Upper(vendorId) + "p" + Upper(productId) + "*";
        struct udev_list_entry* entry = udev_hwdb_get_properties_list_entry(hwdb, modalias.c_str(), 0);
        for (; entry; entry = udev_list_entry_get_next(entry)) {
            const char* name = udev_list_entry_get_name(entry);
            const char* value = udev_list_entry_get_value(entry);
            if (name && value && std::string(name) == "ID_MODEL_FROM_DATABASE") model = value;
        }
        udev_hwdb_unref(hwdb);
    }
    udev_unref(udev);
#else
    (void)vendorId;
    (void)productId;
#endif
    return model;
}

// Fills kind, description and ids of a port from what sysfs knows of the tty it resolves to.
void Describe(TSerialPortInfo& port, const fs::path& sysfsRoot) {
    if (port.KernelName.empty()) return;
    fs::path tty = sysfsRoot / "class" / "tty" / port.KernelName;
    if (!Exists(tty)) return;  // e.g. a pseudo-terminal: exists, but nothing describes it

    if (port.KernelName.rfind("rfcomm", 0) == 0) {
        port.Kind = TSerialPortKind::Bluetooth;
        port.BluetoothAddress = ReadAttribute(tty / "address").value_or("");
        port.BluetoothChannel = ReadAttribute(tty / "channel").value_or("");
        port.Description = "Bluetooth Serial Link";
        if (!port.BluetoothAddress.empty()) port.Description += " " + EscapeControls(port.BluetoothAddress);
        return;
    }
    if (!Exists(tty / "device")) return;  // a virtual terminal, not a serial device

    if (auto usb = UsbDeviceAbove(sysfsRoot, tty / "device")) {
        port.Kind = TSerialPortKind::Usb;
        port.UsbVendorId = Lower(ReadAttribute(usb->Device / "idVendor").value_or(""));
        port.UsbProductId = Lower(ReadAttribute(usb->Device / "idProduct").value_or(""));
        port.UsbSerial = ReadAttribute(usb->Device / "serial").value_or("");
        port.UsbLocation = usb->Device.filename().string();
        port.UsbInterface = InterfaceNumber(usb->Interface);
        port.UsbPlace = usb->Interface.empty() ? port.UsbLocation : usb->Interface.filename().string();
        // usb-serial drivers number the ports of one interface; the first is 0.
        if (auto number = ReadAttribute(tty / "device" / "port_number"); number && *number != "0" && !number->empty())
            port.UsbPortInInterface = *number;
        port.Description = EscapeControls(ReadAttribute(usb->Device / "product").value_or(""));
        if (port.Description.empty()) port.Description = UsbModelFromDatabase(port.UsbVendorId, port.UsbProductId);
        if (port.Description.empty()) port.Description = "USB Serial Port";
        return;
    }
    // An on-board UART; a ttyS line only when a real one answers (type 0 is "unknown").
    if (port.KernelName.rfind("ttyS", 0) == 0) {
        auto type = ReadAttribute(tty / "type");
        if (!type || type->empty() || *type == "0") return;
    }
    port.Kind = TSerialPortKind::BuiltIn;
    port.Description = "Communications Port";
}

}  // namespace

std::string EscapeControls(const std::string& text) {
    std::string out;
    auto escape = [&out](unsigned char byte) {
        static const char kHex[] = "0123456789abcdef";
        out += "\\x";
        out += kHex[byte >> 4];
        out += kHex[byte & 15];
    };
    for (size_t i = 0; i < text.size();) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (byte < 0x80) {
            if (byte < 0x20 || byte == 0x7f) escape(byte);
            else out += static_cast<char>(byte);
            ++i;
            continue;
        }
        // The length of a well-formed UTF-8 sequence starting here, 0 when there is none.
        size_t length = byte >= 0xc2 && byte <= 0xdf ? 2 : byte >= 0xe0 && byte <= 0xef ? 3 : byte >= 0xf0 && byte <= 0xf4 ? 4 : 0;
        for (size_t k = 1; k < length; ++k)
            if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) length = 0;
        if (length == 3 && ((byte == 0xe0 && static_cast<unsigned char>(text[i + 1]) < 0xa0) ||
                            (byte == 0xed && static_cast<unsigned char>(text[i + 1]) >= 0xa0)))
            length = 0;  // overlong, or a surrogate half
        if (length == 4 && ((byte == 0xf0 && static_cast<unsigned char>(text[i + 1]) < 0x90) ||
                            (byte == 0xf4 && static_cast<unsigned char>(text[i + 1]) >= 0x90)))
            length = 0;  // overlong, or beyond U+10FFFF
        // U+0080 to U+009F are the C1 controls, which some terminals obey.
        const bool c1 = length == 2 && byte == 0xc2 && static_cast<unsigned char>(text[i + 1]) < 0xa0;
        if (length == 0 || c1) {
            for (size_t k = 0; k < std::max<size_t>(length, 1); ++k) escape(static_cast<unsigned char>(text[i + k]));
            i += std::max<size_t>(length, 1);
            continue;
        }
        out.append(text, i, length);
        i += length;
    }
    return out;
}

std::optional<int> NumberAfterPrefix(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return std::nullopt;
    const char* first = name.data() + prefix.size();
    const char* last = name.data() + name.size();
    if (*first == '0' && last - first > 1) return std::nullopt;
    int value = 0;
    auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || value < 0) return std::nullopt;
    return value;
}

std::string TSerialPortInfo::ReadableName() const {
    if (Description.empty()) return std::string();
    return Description + " (" + PortName() + ")";
}

// The port map's own folder, so that discovery and the map never disagree.
std::string SysfsPortDirectory() { return PortMap::PortDirectory(); }

TSerialPortInfo DescribeTty(const std::string& kernelName, const TSysfsLocations& where) {
    TSerialPortInfo port;
    port.KernelName = kernelName;
    Describe(port, where.SysfsRoot);
    return port;
}

std::vector<TSerialPortInfo> FindSerialPorts(const TSysfsLocations& where) {
    const fs::path sysfsRoot = where.SysfsRoot;
    const fs::path portDir = where.PortDir.empty() ? SysfsPortDirectory() : where.PortDir;
    std::map<int, TSerialPortInfo> ports;
    std::set<int> linked;  // port numbers the port directory decides, present or not
    std::error_code ec;

    // Ports linked in the port directory take precedence over the built-in numbering.
    for (fs::directory_iterator it(portDir, ec), end; !ec && it != end; it.increment(ec)) {
        auto number = NumberAfterPrefix(it->path().filename().string(), "COM");
        if (!number || *number < 1) continue;
        linked.insert(*number);
        if (!Exists(it->path())) continue;  // a link to an adapter that is not plugged in
        std::error_code typeError;
        if (fs::is_directory(it->path(), typeError)) continue;
        TSerialPortInfo port;
        port.Number = *number;
        port.DevicePath = it->path().string();
        std::error_code resolveError;
        fs::path resolved = fs::canonical(it->path(), resolveError);
        if (!resolveError) port.KernelName = resolved.filename().string();
        Describe(port, sysfsRoot);
        ports[*number] = port;
    }

    // Built-in ports: /dev/ttySk is port k+1 when a real UART is behind it.
    ec.clear();
    for (fs::directory_iterator it(sysfsRoot / "class" / "tty", ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        auto line = NumberAfterPrefix(name, "ttyS");
        if (!line || *line >= 1 << 20) continue;
        const int number = *line + 1;
        if (linked.count(number)) continue;
        fs::path device = fs::path(where.DevRoot) / name;
        if (!Exists(device)) continue;
        TSerialPortInfo port;
        port.Number = number;
        port.DevicePath = device.string();
        port.KernelName = name;
        Describe(port, sysfsRoot);
        if (port.Kind != TSerialPortKind::BuiltIn) continue;  // no UART answers on this line
        ports[number] = port;
    }

    std::vector<TSerialPortInfo> list;
    for (auto& [number, port] : ports) list.push_back(std::move(port));
    return list;
}

}  // namespace tolm
