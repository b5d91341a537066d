#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

#include "TestSupport.h"
#include "platform/Devicetreekeys.h"
#include "platform/Posixdevicetree.h"
#include "platform/Posixportassign.h"
#include "platform/Posixserialports.h"
#include "serial/Getserialport.h"

using namespace tolm;
namespace fs = std::filesystem;

// flock as the kernel gives it, or failing the way it does on a file system
// without locks while a test sets an error here. Defined in this program, it
// stands in for the C library's for the code under test.
static std::atomic<int> g_flockError{0};
extern "C" int flock(int fd, int operation) noexcept {
    if (const int error = g_flockError.load()) {
        errno = error;
        return -1;
    }
    return static_cast<int>(syscall(SYS_flock, fd, operation));
}

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

    // A USB serial adapter: device <usbPath> with ids and product, its tty below
    // interface <interface> (a usb-serial port there; an ACM tty on the interface itself).
    void AddUsbAdapter(const std::string& name, const std::string& usbPath, const std::string& vendor,
                       const std::string& product, const std::string& productName, const std::string& serial = "",
                       int interface = 0) {
        const std::string usb = Sys() + "/devices/pci0000:00/0000:00:14.0/usb1/" + usbPath;
        Attribute(usb + "/idVendor", vendor);
        Attribute(usb + "/idProduct", product);
        if (!productName.empty()) Attribute(usb + "/product", productName);
        if (!serial.empty()) Attribute(usb + "/serial", serial);
        const std::string iface = usb + "/" + usbPath + ":1." + std::to_string(interface);
        Attribute(iface + "/bInterfaceNumber", "0" + std::to_string(interface));
        const bool acm = name.rfind("ttyACM", 0) == 0;
        const std::string port = acm ? iface : iface + "/" + name;
        if (!acm) Attribute(port + "/port_number", "0");
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

    // Unplugs the USB device at usbPath: its ttys' class entries and nodes go, and by-id links to them.
    void Unplug(const std::string& usbPath) {
        fs::remove_all(Sys() + "/devices/pci0000:00/0000:00:14.0/usb1/" + usbPath);
        std::vector<fs::path> gone;
        for (const auto& entry : fs::directory_iterator(Sys() + "/class/tty"))
            if (!fs::exists(entry.path())) gone.push_back(entry.path());
        for (const auto& entry : gone) {
            fs::remove(entry);
            fs::remove(DevPath(entry.filename().string()));
        }
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

// A device chooses its product string: control characters, C1 controls and
// bytes that are not UTF-8 must not reach an administrator's terminal as such.
TEST(SysfsSerialPorts, ProductNamesAreShownWithTheirControlsEscaped) {
    FakeWorkstation ws;
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "Evil\x1b[2J\x7f" "\xc2\x9b" "caf\xc3\xa9\xff\xe2\x82");
    ws.Link(5, ws.DevPath("ttyUSB0"));
    auto ports = FindSerialPorts(ws.Where());
    ASSERT_EQ(ports.size(), 1u);
    EXPECT_EQ(ports[0].ReadableName(), "Evil\\x1b[2J\\x7f\\xc2\\x9bcaf\xc3\xa9\\xff\\xe2\\x82 (COM5)");
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

std::string ReadText(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
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
    ws.Link(3, ws.DevPath("ttyACM0"));  // linked by hand: keeps its number
    ws.Link(4, ws.DevPath("ttyUSB9"));  // linked by hand to an unplugged adapter: stays taken

    auto made = AssignAdapterPorts(ws.Where());
    EXPECT_EQ(made.Problem, "");
    ASSERT_EQ(made.Made.size(), 3u);
    EXPECT_EQ(made.Made[0].Number, 5);
    EXPECT_EQ(made.Made[0].Identity, "bluetooth-00:11:22:33:44:55");
    EXPECT_EQ(made.Made[1].Identity, "usb-0403-6001-A600-if00");
    EXPECT_EQ(LinkTarget(ws, 6), ws.DevPath("ttyUSB0"));
    EXPECT_EQ(made.Made[2].Identity, "usb-067b-2303-B2_x-if00");
    EXPECT_EQ(LinkTarget(ws, 7), ws.DevPath("ttyUSB1"));
    EXPECT_EQ(ReadText(ws.Ports() + "/COM7.id"),
              "usb-067b-2303-B2_x-if00\nat 1-3:1.0\nto " + ws.DevPath("ttyUSB1") + "\n");
    EXPECT_EQ(LinkTarget(ws, 3), ws.DevPath("ttyACM0"));
    EXPECT_EQ(LinkTarget(ws, 4), ws.DevPath("ttyUSB9"));
    EXPECT_EQ(Discover(ws),
              "COM1||Communications Port (COM1),COM2||Communications Port (COM2),COM3||Uno (COM3),"
              "COM5||Bluetooth Serial Link 00:11:22:33:44:55 (COM5),COM6||FT232R USB UART (COM6),"
              "COM7||USB-Serial Controller (COM7)");
    EXPECT_TRUE(AssignAdapterPorts(ws.Where()).Made.empty());
}

TEST(PortAssignment, AnAdapterKeepsItsNumberAcrossPluggingAndOpensOnlyThere) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART", "A600");
    ASSERT_EQ(AssignAdapterPorts(ws.Where()).Made.size(), 1u);
    ASSERT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB0"));

    // Unplugged, and another adapter takes its tty name. Opening COM2 runs the
    // lookup first, with nothing else run before: COM2 must not reach the newcomer.
    ws.Unplug("1-2");
    ws.AddUsbAdapter("ttyUSB0", "1-3", "10c4", "ea60", "CP2102", "C3");
    EXPECT_NE(ResolvePortNumber(2, ws.Where()).Path, ws.DevPath("ttyUSB0"));
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM2"));
    EXPECT_EQ(ResolvePortNumber(3, ws.Where()).Path, fs::canonical(ws.DevPath("ttyUSB0")).string());
    EXPECT_EQ(Discover(ws), "COM1||Communications Port (COM1),COM3||CP2102 (COM3)");
    EXPECT_EQ(ResolvePortNumber(1, ws.Where()).Path, "/dev/ttyS0");  // no entry: the built-in port

    // Back, in another socket and under a new tty name: its old number follows it.
    ws.AddUsbAdapter("ttyUSB1", "1-4", "0403", "6001", "FT232R USB UART", "A600");
    EXPECT_EQ(ResolvePortNumber(2, ws.Where()).Path, fs::canonical(ws.DevPath("ttyUSB1")).string());
    EXPECT_TRUE(AssignAdapterPorts(ws.Where()).Made.empty());

    // The entry removed (ports unlink): its record goes, and the number is given again.
    EXPECT_EQ(UnlinkPortEntry(2, ws.Where()), "");
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM2.id"));
    auto made = AssignAdapterPorts(ws.Where()).Made;
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].Number, 2);
    EXPECT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB1"));
}

// A bench of two adapters that report the same serial number and a four-port
// adapter whose ports share one, plugged, pulled and plugged in again in
// different orders, so that their tty names move: each number keeps reaching
// the same physical port, and no port ever gets a second number. (The twins
// are told apart by their sockets, so they stay in theirs.)
TEST(PortAssignment, EveryNumberStaysOnItsPhysicalPortWhateverThePluggingOrder) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    struct Device {
        std::string usbPath, product, serial;
        int interfaces;
    };
    const std::map<std::string, Device> bench{{"twinA", {"1-1", "6001", "0001", 1}},
                                              {"twinB", {"1-2", "6001", "0001", 1}},
                                              {"quad", {"1-3.4", "6011", "FT4X", 4}}};
    std::map<std::string, std::string> ttyOf;  // physical port ("quad:2") -> its tty now
    std::map<std::string, std::string> socketOf;  // where each device is plugged in
    auto plug = [&](const std::string& name, const std::string& socket = "") {
        Device d = bench.at(name);
        if (!socket.empty()) d.usbPath = socket;
        socketOf[name] = d.usbPath;
        for (int i = 0; i < d.interfaces; ++i) {
            int line = 0;  // the kernel gives the lowest free ttyUSB line
            while (fs::exists(ws.DevPath("ttyUSB" + std::to_string(line)))) ++line;
            const std::string tty = "ttyUSB" + std::to_string(line);
            ws.AddUsbAdapter(tty, d.usbPath, "0403", d.product, "USB Serial", d.serial, i);
            ttyOf[name + ":" + std::to_string(i)] = ws.DevPath(tty);
        }
    };
    auto pull = [&](const std::string& name) {
        ws.Unplug(socketOf.at(name));
        for (int i = 0; i < bench.at(name).interfaces; ++i) ttyOf.erase(name + ":" + std::to_string(i));
    };

    std::map<int, std::string> portOf;  // number -> the physical port it was first seen to reach
    auto check = [&](const std::string& step) {
        for (int lookup = 0; lookup < 3; ++lookup) AssignAdapterPorts(ws.Where());
        std::map<std::string, int> numbersOf;
        for (const auto& entry : fs::directory_iterator(ws.Ports())) {
            auto number = NumberAfterPrefix(entry.path().filename().string(), "COM");
            if (!number) continue;
            const auto target = fs::read_symlink(entry.path()).string();
            for (const auto& [port, tty] : ttyOf) {
                if (tty != target) continue;
                ++numbersOf[port];
                if (!portOf.count(*number)) portOf[*number] = port;
                EXPECT_EQ(portOf[*number], port) << step << ": COM" << *number << " moved to another port";
            }
        }
        for (const auto& [port, tty] : ttyOf) EXPECT_EQ(numbersOf[port], 1) << step << ": numbers of " << port;
    };

    plug("twinA");
    check("one twin alone");
    plug("quad");
    plug("twinB");
    check("all plugged");
    EXPECT_EQ(portOf.size(), 6u);
    pull("twinA");
    check("first twin pulled");
    pull("quad");
    plug("twinA");  // now on ttyUSB0, the quad's first port before
    check("first twin back on another tty");
    plug("quad");
    pull("twinB");
    check("quad back, second twin pulled");
    pull("twinA");
    plug("twinB");
    check("second twin back alone on the first twin's tty");
    plug("twinA");
    check("both twins back");
    pull("quad");
    plug("quad", "1-5");  // its serial number and interfaces tell its ports apart in any socket
    check("quad in another socket");
    EXPECT_EQ(portOf.size(), 6u) << "a port got a new number";
}

// The identity comes from sysfs alone: udev's by-id names, which come late and
// which two adapters without serial numbers share, change nothing.
TEST(PortAssignment, ByIdLinksChangeNoNumber) {
    FakeWorkstation ws;
    ws.AddUsbAdapter("ttyUSB0", "1-1", "1a86", "7523", "USB Serial");
    ws.AddUsbAdapter("ttyUSB1", "1-2", "1a86", "7523", "USB Serial");
    ASSERT_EQ(AssignAdapterPorts(ws.Where()).Made.size(), 2u);

    fs::create_directories(ws.Dev() + "/serial/by-id");
    fs::create_symlink("../../ttyUSB1", ws.Dev() + "/serial/by-id/usb-1a86_USB_Serial-if00-port0");
    EXPECT_TRUE(AssignAdapterPorts(ws.Where()).Made.empty());
    EXPECT_EQ(LinkTarget(ws, 1), ws.DevPath("ttyUSB0"));
    EXPECT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB1"));
    EXPECT_EQ(ReadText(ws.Ports() + "/COM1.id").substr(0, 26), "usb-1a86-7523-if00@1-1:1.0");
}

// Earlier versions gave every port of a four-port adapter the same one-line
// record, so that all its numbers came to reach its first port: each record
// is taken over by one port, in order, and no new number is made.
TEST(PortAssignment, RecordsOfEarlierVersionsGoOneToEachPort) {
    FakeWorkstation ws;
    for (int i = 0; i < 4; ++i)
        ws.AddUsbAdapter("ttyUSB" + std::to_string(i), "1-3", "0403", "6011", "Quad RS232-HS", "FT4X", i);
    for (int n = 3; n <= 6; ++n) {
        ws.Link(n, ws.DevPath("ttyUSB0"));
        std::ofstream(ws.Ports() + "/COM" + std::to_string(n) + ".id") << "usb-0403-6011-FT4X\n";
    }
    EXPECT_TRUE(AssignAdapterPorts(ws.Where()).Made.empty());
    for (int n = 3; n <= 6; ++n) EXPECT_EQ(LinkTarget(ws, n), ws.DevPath("ttyUSB" + std::to_string(n - 3)));
    EXPECT_EQ(ReadText(ws.Ports() + "/COM6.id").substr(0, 24), "usb-0403-6011-FT4X-if03\n");
}

// Every edit of the port directory waits for its lock, and a link that the
// operator (or the emulator) put in an automatic number's place is left alone.
TEST(PortAssignment, EditsTakeTheLockAndLinksMadeByHandStay) {
    FakeWorkstation ws;
    ws.AddUsbAdapter("ttyUSB0", "1-1", "0403", "6001", "FT232R", "A1");
    ws.AddUsbAdapter("ttyUSB1", "1-2", "0403", "6001", "FT232R", "B2");
    ASSERT_EQ(AssignAdapterPorts(ws.Where()).Made.size(), 2u);
    test::PtyPair line;

    // Replaced by hand: the record is stale and goes; the link stays.
    fs::remove(ws.Ports() + "/COM1");
    ws.Link(1, line.SlavePath());
    const auto made = AssignAdapterPorts(ws.Where()).Made;  // ttyUSB0 is reached by no number now
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(made[0].Number, 3);
    EXPECT_EQ(LinkTarget(ws, 1), line.SlavePath());
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM1.id"));

    const int lock = open(ws.Ports().c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_EQ(flock(lock, LOCK_EX), 0);
    std::string problem = "not run";
    std::thread link([&] { problem = LinkPortEntry(2, line.SlavePath(), ws.Where()); });
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB1")) << "ports link did not wait for the lock";
    close(lock);
    link.join();
    EXPECT_EQ(problem, "");
    EXPECT_EQ(LinkTarget(ws, 2), line.SlavePath());
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM2.id"));
    AssignAdapterPorts(ws.Where());
    EXPECT_EQ(LinkTarget(ws, 2), line.SlavePath());
}

// Where the port directory cannot be locked, nothing is numbered or linked,
// the lookup says why, and a number whose adapter has gone is not opened on
// the newcomer that took its tty name.
TEST(PortAssignment, ALockThatFailsIsSaidAndNothingIsAssigned) {
    FakeWorkstation ws;
    ws.AddUart(0, 4);
    ws.AddUsbAdapter("ttyUSB0", "1-2", "0403", "6001", "FT232R USB UART", "A600");
    ASSERT_EQ(AssignAdapterPorts(ws.Where()).Made.size(), 1u);
    ws.Unplug("1-2");
    ws.AddUsbAdapter("ttyUSB0", "1-3", "10c4", "ea60", "CP2102", "C3");

    g_flockError = ENOLCK;
    const auto lookup = AssignAdapterPorts(ws.Where());
    const auto moved = ResolvePortNumber(2, ws.Where());
    const auto linked = LinkPortEntry(4, ws.DevPath("ttyUSB0"), ws.Where());
    g_flockError = 0;

    EXPECT_TRUE(lookup.Made.empty());
    EXPECT_EQ(lookup.Problem, "cannot lock the port directory " + ws.Ports() + ": " + std::strerror(ENOLCK) +
                                  "; no port number was given or brought up to date");
    EXPECT_EQ(moved.Path, "") << "COM2 was opened on the adapter that took its tty name";
    EXPECT_EQ(moved.Error, ENOLCK);
    EXPECT_EQ(linked, lookup.Problem);
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM3") || fs::exists(ws.Ports() + "/COM4"));
    EXPECT_EQ(LinkTarget(ws, 2), ws.DevPath("ttyUSB0")) << "the stale entry was edited without the lock";

    // Once the lock is had again, the stale number goes and the newcomer gets its own.
    EXPECT_EQ(ResolvePortNumber(3, ws.Where()).Path, fs::canonical(ws.DevPath("ttyUSB0")).string());
    EXPECT_FALSE(fs::exists(ws.Ports() + "/COM2"));
}

// An account without a password entry, home or configuration folder: nothing
// may be written into the current folder.
TEST(PortAssignment, NoPortDirectoryIsRefusedByName) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become an account without a password entry";
    FakeWorkstation ws;
    ws.AddUsbAdapter("ttyUSB0", "1-1", "0403", "6001", "FT232R", "A1");
    test::TempDir cwd;
    chmod(cwd.Path().c_str(), 0777);
    const pid_t child = fork();
    if (child == 0) {
        unsetenv("TOLM_PORT_DIR");
        unsetenv("XDG_CONFIG_HOME");
        unsetenv("HOME");
        if (chdir(cwd.Path().c_str()) != 0 || setgroups(0, nullptr) != 0 || setgid(54321) != 0 || setuid(54321) != 0)
            _exit(10);
        const TSysfsLocations where{ws.Sys(), ws.Dev(), ""};
        const bool named = AssignAdapterPorts(where).Problem.find("set TOLM_PORT_DIR") != std::string::npos &&
                           LinkPortEntry(3, "/dev/null", where).find("set TOLM_PORT_DIR") != std::string::npos;
        _exit(named ? 0 : 11);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the refusal does not name TOLM_PORT_DIR";
    EXPECT_TRUE(fs::is_empty(cwd.Path())) << "entries were written into the current folder";
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
