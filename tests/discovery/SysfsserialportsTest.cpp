#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "platform/Devicetreekeys.h"
#include "platform/Devicetreesysfs.h"
#include "platform/Portassign.h"
#include "platform/Sysfsserialports.h"
#include "serial/Getserialport.h"

using namespace tolm;
namespace fs = std::filesystem;

namespace {

// A sysfs tree, a /dev folder and a port directory in a temporary folder,
// laid out the way the kernel presents UARTs, USB adapters and rfcomm links.
class FakeWorkstation {
public:
    FakeWorkstation() {
        fs::create_directories(Sys() + "/class/tty");
        fs::create_directories(Dev());
        fs::create_directories(Ports());
    }
    std::string Sys() const { return dir_.Path() + "/sys"; }
    std::string Dev() const { return dir_.Path() + "/dev"; }
    std::string Ports() const { return dir_.Path() + "/ports"; }
    TSysfsLocations Where() const { return {Sys(), Dev(), Ports()}; }

    // ttyS<line> on an on-board UART of the given type (0 = no UART answers).
    void AddUart(int line, int type, bool deviceNode = true) {
        const std::string name = "ttyS" + std::to_string(line);
        const std::string platformDevice = Sys() + "/devices/pnp0/00:0" + std::to_string(line);
        const std::string tty = platformDevice + "/tty/" + name;
        Attribute(tty + "/type", std::to_string(type));
        fs::create_directory_symlink(platformDevice, tty + "/device");
        fs::create_directory_symlink(tty, Sys() + "/class/tty/" + name);
        if (deviceNode) Node(name);
    }

    // A USB serial adapter: device <usbPath> with ids and product, its tty below its interface.
    void AddUsbAdapter(const std::string& name, const std::string& usbPath, const std::string& vendor,
                       const std::string& product, const std::string& productName, const std::string& serial = "") {
        const std::string usb = Sys() + "/devices/pci0000:00/0000:00:14.0/usb1/" + usbPath;
        Attribute(usb + "/idVendor", vendor);
        Attribute(usb + "/idProduct", product);
        if (!productName.empty()) Attribute(usb + "/product", productName);
        if (!serial.empty()) Attribute(usb + "/serial", serial);
        const std::string port = usb + "/" + usbPath + ":1.0/" + name;
        const std::string tty = port + "/tty/" + name;
        fs::create_directories(tty);
        fs::create_directory_symlink(port, tty + "/device");
        fs::create_directory_symlink(tty, Sys() + "/class/tty/" + name);
        Node(name);
    }

    void AddRfcomm(const std::string& name, const std::string& address) {
        const std::string tty = Sys() + "/devices/virtual/tty/" + name;
        Attribute(tty + "/address", address);
        fs::create_directory_symlink(tty, Sys() + "/class/tty/" + name);
        Node(name);
    }

    // A terminal with a sysfs entry but no device behind it (like tty1).
    void AddVirtualTerminal(const std::string& name) {
        const std::string tty = Sys() + "/devices/virtual/tty/" + name;
        fs::create_directories(tty);
        fs::create_directory_symlink(tty, Sys() + "/class/tty/" + name);
        Node(name);
    }

    // Unplugs a device: its class entry, its node and its by-id link go.
    void Unplug(const std::string& name, const std::string& usbPath) {
        fs::remove(Sys() + "/class/tty/" + name);
        fs::remove_all(Sys() + "/devices/pci0000:00/0000:00:14.0/usb1/" + usbPath);
        fs::remove(DevPath(name));
        std::error_code ec;
        for (const auto& link : fs::directory_iterator(Dev() + "/serial/by-id", ec))
            if (!fs::exists(link.path())) fs::remove(link.path());
    }

    void Link(int port, const std::string& target) {
        fs::create_symlink(target, Ports() + "/COM" + std::to_string(port));
    }
    std::string DevPath(const std::string& name) const { return Dev() + "/" + name; }

private:
    static void Attribute(const std::string& path, const std::string& text) {
        fs::create_directories(fs::path(path).parent_path());
        std::FILE* f = std::fopen(path.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fprintf(f, "%s\n", text.c_str());
        std::fclose(f);
    }
    void Node(const std::string& name) {
        std::FILE* f = std::fopen(DevPath(name).c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fclose(f);
    }
    test::TempDir dir_;
};

std::string Discover(const FakeWorkstation& ws) {
    return TGetSerialPort(std::make_shared<TSysfsDeviceTree>(ws.Where())).GetComPort();
}

// Restores an environment variable when the scope ends.
class ScopedEnv {
public:
    explicit ScopedEnv(const char* name) : name_(name) {
        if (const char* value = std::getenv(name)) saved_ = value, had_ = true;
    }
    ~ScopedEnv() { had_ ? setenv(name_, saved_.c_str(), 1) : unsetenv(name_); }
    void Set(const std::string& value) { setenv(name_, value.c_str(), 1); }
    void Unset() { unsetenv(name_); }

private:
    const char* name_;
    std::string saved_;
    bool had_ = false;
};

}  // namespace

TEST(SysfsSerialPorts, BuiltInPortsNeedARealUartAndADeviceNode) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUart(1, 0);         // no UART answers
    ws.AddUart(2, 4, false);  // no /dev node
    ws.AddUart(3, 1);
    ws.AddVirtualTerminal("tty1");

    auto ports = FindSerialPorts(ws.Where());
    ASSERT_EQ(ports.size(), 2u);
    EXPECT_EQ(ports[0].Number, 1);
    EXPECT_EQ(ports[0].DevicePath, ws.DevPath("ttyS0"));
    EXPECT_EQ(ports[0].Kind, TSerialPortKind::BuiltIn);
    EXPECT_EQ(ports[1].Number, 4);
    EXPECT_EQ(ports[1].ReadableName(), "Communications Port (COM4)");
    EXPECT_EQ(Discover(ws), "COM1||Communications Port (COM1),COM4||Communications Port (COM4)");
}

TEST(SysfsSerialPorts, LinkedUsbBluetoothAndOtherPortsWithTheirNames) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART");
    ws.AddUsbAdapter("ttyACM0", "1-3", "FFFE", "0A0B", "");  // no product name
    ws.AddRfcomm("rfcomm0", "00:11:22:33:44:55");
    test::PtyPair pty;  // exists, but nothing describes it
    fs::create_directories(ws.Dev() + "/serial/by-id");
    fs::create_symlink("../../ttyUSB0", ws.Dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A600-if00-port0");

    ws.Link(5, ws.Dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A600-if00-port0");
    ws.Link(6, ws.DevPath("ttyACM0"));
    ws.Link(8, ws.DevPath("rfcomm0"));
    ws.Link(9, pty.SlavePath());

    auto ports = FindSerialPorts(ws.Where());
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[1].Number, 5);
    EXPECT_EQ(ports[1].DevicePath, ws.Ports() + "/COM5");
    EXPECT_EQ(ports[1].KernelName, "ttyUSB0");
    EXPECT_EQ(ports[1].UsbVendorId, "0403");
    EXPECT_EQ(ports[2].UsbVendorId, "fffe");
    EXPECT_EQ(ports[3].Kind, TSerialPortKind::Bluetooth);
    EXPECT_EQ(ports[4].Kind, TSerialPortKind::Other);

    EXPECT_EQ(Discover(ws),
              "COM1||Communications Port (COM1),COM5||FT232R USB UART (COM5),COM6||USB Serial Port (COM6),"
              "COM8||Bluetooth Serial Link 00:11:22:33:44:55 (COM8),COM9||");
}

TEST(SysfsSerialPorts, PortDirectoryDecidesTheNumbersItHolds) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUart(1, 4);
    ws.AddUart(2, 4);
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART");
    ws.Link(1, ws.DevPath("ttyUSB0"));       // COM1 is the adapter, not ttyS0
    ws.Link(2, ws.DevPath("ttyUSB7"));       // unplugged adapter: COM2 is absent, not ttyS1
    ws.Link(4, ws.DevPath("ttyS0"));         // a built-in port under another number
    fs::create_symlink(ws.DevPath("ttyS2"), ws.Ports() + "/COM07");  // not a port-map name
    fs::create_symlink(ws.DevPath("ttyS2"), ws.Ports() + "/com6");

    EXPECT_EQ(Discover(ws),
              "COM1||FT232R USB UART (COM1),COM3||Communications Port (COM3),COM4||Communications Port (COM4)");
}

TEST(SysfsSerialPorts, TenAndMorePortsInOrderEachOnce) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUart(10, 4);  // COM11
    ws.AddUsbAdapter("ttyUSB0", "1-1", "10c4", "ea60", "CP2102 USB to UART Bridge Controller");
    ws.AddUsbAdapter("ttyUSB1", "1-2", "0403", "6001", "FT232R USB UART");
    ws.AddUsbAdapter("ttyUSB2", "1-3", "0403", "6001", "FT232R USB UART");
    ws.Link(12, ws.DevPath("ttyUSB0"));
    ws.Link(10, ws.DevPath("ttyUSB1"));
    ws.Link(2, ws.DevPath("ttyUSB2"));
    ws.Link(21, ws.DevPath("ttyUSB2"));  // one adapter under two numbers

    TSysfsDeviceTree tree(ws.Where());
    TGetSerialPort discovery(std::shared_ptr<const TDeviceTree>(&tree, [](const TDeviceTree*) {}));
    EXPECT_EQ(discovery.GetComPort(),
              "COM1||Communications Port (COM1),COM2||FT232R USB UART (COM2),COM10||FT232R USB UART (COM10),"
              "COM11||Communications Port (COM11),COM12||CP2102 USB to UART Bridge Controller (COM12),"
              "COM21||FT232R USB UART (COM21)");
    // Adapters of one kind share a class entry: no name is found twice.
    EXPECT_EQ(discovery.DeviceNames().size(), 6u);
    EXPECT_EQ(tree.KeyNames(devicetree_keys::kSerialPortClass).size(), 3u);
}

std::string LinkTarget(const FakeWorkstation& ws, int port) {
    return fs::read_symlink(ws.Ports() + "/COM" + std::to_string(port)).string();
}

TEST(PortAssignment, AdaptersGetFreeNumbersAboveTheBuiltInPorts) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUart(1, 4);
    ws.AddUart(2, 0);  // a ttyS node without a UART is no built-in port
    ws.AddUsbAdapter("ttyACM0", "1-1", "2341", "0043", "Uno");
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART", "A600");
    ws.AddUsbAdapter("ttyUSB1", "1-3", "067b", "2303", "USB-Serial Controller", "B2/x");
    ws.AddRfcomm("rfcomm0", "00:11:22:33:44:55");
    fs::create_directories(ws.Dev() + "/serial/by-id");
    const std::string byId = ws.Dev() + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A600-if00-port0";
    fs::create_symlink("../../ttyUSB0", byId);
    ws.Link(3, ws.DevPath("ttyACM0"));  // linked by hand: keeps its number
    ws.Link(4, ws.DevPath("ttyUSB9"));  // linked by hand to an unplugged adapter: stays taken

    auto made = AssignAdapterPorts(ws.Where());
    ASSERT_EQ(made.size(), 3u);
    EXPECT_EQ(made[0].Number, 5);
    EXPECT_EQ(made[0].Identity, "bluetooth-00:11:22:33:44:55");
    EXPECT_EQ(LinkTarget(ws, 6), byId);  // udev's stable name, no record needed
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM6.id"));
    EXPECT_EQ(LinkTarget(ws, 7), ws.DevPath("ttyUSB1"));
    EXPECT_EQ(made[2].Identity, "usb-067b-2303-B2_x");
    EXPECT_EQ(LinkTarget(ws, 3), ws.DevPath("ttyACM0"));
    EXPECT_EQ(LinkTarget(ws, 4), ws.DevPath("ttyUSB9"));
    EXPECT_EQ(Discover(ws),
              "COM1||Communications Port (COM1),COM2||Communications Port (COM2),COM3||Uno (COM3),"
              "COM5||Bluetooth Serial Link 00:11:22:33:44:55 (COM5),COM6||FT232R USB UART (COM6),"
              "COM7||USB-Serial Controller (COM7)");
    EXPECT_TRUE(AssignAdapterPorts(ws.Where()).empty());
}

TEST(PortAssignment, AnAdapterKeepsItsNumberAcrossPlugging) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART", "A600");
    ASSERT_EQ(AssignAdapterPorts(ws.Where()).size(), 1u);
    ASSERT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB0"));

    // Unplugged, and another adapter takes its tty name: COM2 must not reach that one.
    ws.Unplug("ttyUSB0", "1-2");
    ws.AddUsbAdapter("ttyUSB0", "1-3", "10c4", "ea60", "CP2102", "C3");
    auto made = AssignAdapterPorts(ws.Where());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].Number, 3);
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM2"));
    EXPECT_EQ(Discover(ws), "COM1||Communications Port (COM1),COM3||CP2102 (COM3)");

    // Back under a new tty name: its old number follows it.
    ws.AddUsbAdapter("ttyUSB1", "1-2", "0403", "6001", "FT232R USB UART", "A600");
    EXPECT_TRUE(AssignAdapterPorts(ws.Where()).empty());
    EXPECT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB1"));

    // The entry removed (ports unlink): its record goes, and the number is given again.
    fs::remove(ws.Ports() + "/COM2");
    made = AssignAdapterPorts(ws.Where());
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].Number, 2);
    EXPECT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB1"));
}

TEST(SysfsSerialPorts, MissingFoldersFindNothing) {
    test::TempDir empty;
    TSysfsLocations where{empty.Path() + "/sys", empty.Path() + "/dev", empty.Path() + "/ports"};
    EXPECT_TRUE(FindSerialPorts(where).empty());
    EXPECT_EQ(TGetSerialPort(std::make_shared<TSysfsDeviceTree>(where)).GetComPort(), "");
}

TEST(SysfsSerialPorts, PortDirectoryComesFromTheEnvironment) {
    ScopedEnv portDir("TOLM_PORT_DIR"), config("XDG_CONFIG_HOME"), home("HOME");
    portDir.Set("/tmp/links");
    config.Set("/cfg");
    home.Set("/home/bench");
    EXPECT_EQ(SysfsPortDirectory(), "/tmp/links");
    portDir.Unset();
    EXPECT_EQ(SysfsPortDirectory(), "/cfg/tolm-upgrade/ports");
    config.Set("");
    EXPECT_EQ(SysfsPortDirectory(), "/home/bench/.config/tolm-upgrade/ports");

    // The default locations read the port directory named there.
    FakeWorkstation ws;
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART");
    ws.Link(3, ws.DevPath("ttyUSB0"));
    portDir.Set(ws.Ports());
    TSysfsLocations where{ws.Sys(), ws.Dev(), ""};
    ASSERT_EQ(FindSerialPorts(where).size(), 1u);
    EXPECT_EQ(FindSerialPorts(where)[0].Number, 3);
}

// Runs the real discovery on this workstation: it may find nothing, but what it
// finds is the port list, by number, each port with its readable name.
TEST(SysfsSerialPorts, DiscoveryRunsOnThisWorkstation) {
    std::string expected;
    for (const auto& port : FindSerialPorts())
        if (port.Number <= 49) expected += (expected.empty() ? "" : ",") + port.PortName() + "||" + port.ReadableName();
    const std::string found = TGetSerialPort().GetComPort();
    EXPECT_EQ(found, expected);
    std::printf("serial ports here: \"%s\"\n", found.c_str());
}
