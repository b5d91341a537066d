#include "platform/Sysfsserialports.h"

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

// The USB device (the directory with idVendor and idProduct) above a tty's device, if any.
std::optional<fs::path> UsbDeviceAbove(const fs::path& sysfsRoot, const fs::path& ttyDevice) {
    std::error_code ec;
    fs::path root = fs::canonical(sysfsRoot, ec);
    if (ec) return std::nullopt;
    fs::path dir = fs::canonical(ttyDevice, ec);
    if (ec) return std::nullopt;
    for (int depth = 0; depth < 32 && dir != root && dir.has_relative_path(); ++depth) {
        auto [rootEnd, dirAt] = std::mismatch(root.begin(), root.end(), dir.begin(), dir.end());
        if (rootEnd != root.end()) return std::nullopt;  // left the sysfs tree
        if (Exists(dir / "idVendor") && Exists(dir / "idProduct")) return dir;
        dir = dir.parent_path();
    }
    return std::nullopt;
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
        if (!port.BluetoothAddress.empty()) port.Description += " " + port.BluetoothAddress;
        return;
    }
    if (!Exists(tty / "device")) return;  // a virtual terminal, not a serial device

    if (auto usb = UsbDeviceAbove(sysfsRoot, tty / "device")) {
        port.Kind = TSerialPortKind::Usb;
        port.UsbVendorId = Lower(ReadAttribute(*usb / "idVendor").value_or(""));
        port.UsbProductId = Lower(ReadAttribute(*usb / "idProduct").value_or(""));
        port.UsbSerial = ReadAttribute(*usb / "serial").value_or("");
        port.UsbLocation = usb->filename().string();
        port.Description = ReadAttribute(*usb / "product").value_or("");
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
