#include <gtest/gtest.h>

#include <memory>

#include "TestSupport.h"
#include "platform/Devicetree.h"
#include "platform/Devicetreekeys.h"
#include "serial/Getserialport.h"

using namespace tolm;
namespace keys = tolm::devicetree_keys;

namespace {

const std::string kAcpiPorts = std::string(keys::kEnumAcpi) + "PNP0501";
const std::string kFtdi = std::string(keys::kEnumUsb) + "VID_0403&PID_6001";

// A tree laid out as the discovery expects it, built a piece at a time.
class Workstation {
public:
    std::shared_ptr<TMemoryDeviceTree> tree = std::make_shared<TMemoryDeviceTree>();

    void Port(const std::string& valueName, const std::string& portName) {
        tree->SetValue(keys::kSerialDeviceMap, valueName, portName);
    }
    void PortKind(const std::string& subkey, const std::string& matchingId) {
        tree->SetValue(std::string(keys::kSerialPortClass) + "\\" + subkey, keys::kMatchingDeviceId, matchingId);
    }
    void Name(const std::string& enumKey, const std::string& instance, const std::string& name) {
        tree->SetValue(enumKey + "\\" + instance, keys::kFriendlyName, name);
    }
    // Built-in ports and one kind of USB adapter, as most benches have them.
    void StandardKinds() {
        PortKind("0000", "*PNP0501");
        PortKind("0001", "usb\\vid_0403&pid_6001");
    }
    std::string Discover() { return TGetSerialPort(tree).GetComPort(); }
};

class FixedVersion : public TGetSerialPort {
public:
    FixedVersion(std::shared_ptr<const TDeviceTree> tree, int major) : TGetSerialPort(std::move(tree)), major_(major) {}
    int CheckOS(TOSVersionInfo& info) override {
        info.dwMajorVersion = static_cast<uint32_t>(major_);
        return major_;
    }

private:
    int major_;
};

}  // namespace

TEST(GetSerialPort, PairsEachPortWithItsName) {
    Workstation ws;
    ws.StandardKinds();
    ws.Port("\\Device\\Serial0", "COM1");
    ws.Port("\\Device\\VCP0", "COM3");
    ws.Name(kAcpiPorts, "1", "Communications Port (COM1)");
    ws.Name(kFtdi, "A600ABCD", "USB Serial Port (COM3)");
    EXPECT_EQ(ws.Discover(), "COM1||Communications Port (COM1),COM3||USB Serial Port (COM3)");
}

TEST(GetSerialPort, PortsWithoutNamesAndNamesWithoutPorts) {
    Workstation ws;
    ws.StandardKinds();
    ws.Port("a", "COM2");
    ws.Port("b", "COM5");
    ws.Name(kFtdi, "x", "USB Serial Port (COM7)");  // no such port: no entry
    ws.Name(kFtdi, "y", "USB Serial Port (COM5)");
    EXPECT_EQ(ws.Discover(), "COM2||,COM5||USB Serial Port (COM5)");

    Workstation empty;
    empty.StandardKinds();
    empty.Name(kAcpiPorts, "1", "Communications Port (COM1)");
    EXPECT_EQ(empty.Discover(), "");
}

TEST(GetSerialPort, ListsByPortNumberNotMapOrder) {
    Workstation ws;
    ws.StandardKinds();
    ws.Port("first", "COM4");
    ws.Port("second", "COM2");
    ws.Name(kAcpiPorts, "1", "Communications Port (COM2)");
    ws.Name(kFtdi, "1", "USB Serial Port (COM4)");
    EXPECT_EQ(ws.Discover(), "COM2||Communications Port (COM2),COM4||USB Serial Port (COM4)");
}

// Port numbers are compared whole: COM1 is not taken for COM12 (nor COM12's name
// for COM1), ten or more ports come out in order, each once.
TEST(GetSerialPort, ComparesPortNumbersExactly) {
    Workstation ws;
    ws.StandardKinds();
    for (int n : {12, 1, 10, 2, 11, 3, 4, 5, 6, 7, 8, 9}) ws.Port("p" + std::to_string(n), "COM" + std::to_string(n));
    for (int n : {12, 10, 11, 1, 3, 5}) ws.Name(kFtdi, "i" + std::to_string(n), "Adapter (COM" + std::to_string(n) + ")");
    ws.Name(kAcpiPorts, "1", "Communications Port (COM2)");
    std::string expected = "COM1||Adapter (COM1),COM2||Communications Port (COM2),COM3||Adapter (COM3),COM4||,"
                           "COM5||Adapter (COM5),COM6||,COM7||,COM8||,COM9||,COM10||Adapter (COM10),"
                           "COM11||Adapter (COM11),COM12||Adapter (COM12)";
    EXPECT_EQ(ws.Discover(), expected);
}

TEST(GetSerialPort, NameBelongsToThePortItEndsWith) {
    Workstation ws;
    ws.PortKind("0000", "usb\\vid_0403&pid_6001");  // its names are found first
    ws.PortKind("0001", "*PNP0501");
    ws.Port("a", "COM1");
    ws.Port("b", "COM3");
    ws.Name(kFtdi, "1", "Cable for COM1 docks (COM3)");
    ws.Name(kAcpiPorts, "1", "Communications Port (COM1)");
    EXPECT_EQ(ws.Discover(), "COM1||Communications Port (COM1),COM3||Cable for COM1 docks (COM3)");
}

TEST(GetSerialPort, DuplicatePortsComeOutOnceAndHighNumbersAreLeftOut) {
    Workstation ws;
    ws.Port("a", "COM50");
    ws.Port("b", "COM49");
    ws.Port("c", "COM7");
    ws.Port("d", "COM7");
    EXPECT_EQ(ws.Discover(), "COM7||,COM49||");
}

TEST(GetSerialPort, ReadsOnlyTheValuesItKnows) {
    Workstation ws;
    ws.PortKind("0000", "*PNP0501");
    ws.PortKind("0001", "USB\\VID_0403&PID_6001");        // the prefix is lower case, compared exactly
    ws.tree->SetValue(std::string(keys::kSerialPortClass) + "\\0002", "matchingdeviceid", "*PNP0502");
    ws.tree->SetValue(std::string(keys::kSerialPortClass) + "\\0003", " MatchingDeviceId ", "*PNP0503");
    ws.Port("a", "com1");  // any case of "COM"
    ws.Port("b", "LPT1");
    ws.Port("c", "CO");
    ws.Port("d", "Com2");
    ws.Port("e", "COM3");
    ws.Port("f", "COM4");
    ws.Port("g", "COM5");
    ws.tree->SetValue(kAcpiPorts + "\\1", " friendlyNAME ", "Communications Port (COM1)");
    ws.Name(kFtdi, "1", "USB Serial Port (COM2)");
    ws.Name(std::string(keys::kEnumAcpi) + "PNP0502", "1", "Hidden Port (COM3)");
    ws.Name(std::string(keys::kEnumAcpi) + "PNP0503", "1", "Modem Port (COM4)");
    // Bluetooth links: the value name must be exactly FriendlyName (blanks aside).
    ws.tree->SetValue(std::string(keys::kEnumBluetoothPorts) + "\\0000", "friendlyname", "Lower Link (COM5)");
    ws.tree->SetValue(std::string(keys::kEnumBluetoothPorts) + "\\0001", " FriendlyName", "Bluetooth Link (COM5)");

    TGetSerialPort discovery(ws.tree);
    EXPECT_EQ(discovery.GetComPort(),
              "com1||Communications Port (COM1),Com2||,COM3||,COM4||Modem Port (COM4),COM5||Bluetooth Link (COM5)");
    EXPECT_EQ(discovery.PortNames(), (std::vector<std::string>{"com1", "Com2", "COM3", "COM4", "COM5"}));
}

TEST(GetSerialPort, MissingOrUnreadableKeysOnlyFindLess) {
    Workstation noMap;
    noMap.StandardKinds();
    noMap.Name(kAcpiPorts, "1", "Communications Port (COM1)");
    noMap.tree->AddKey("\\HARDWARE\\DEVICEMAP");
    EXPECT_EQ(noMap.Discover(), "");

    Workstation ws;
    ws.StandardKinds();
    ws.Port("a", "COM1");
    ws.Port("b", "COM2");
    ws.Port("c", "COM3");
    ws.tree->MakeValueUnreadable(keys::kSerialDeviceMap, "b");
    ws.Name(kAcpiPorts, "locked", "Communications Port (COM1)");
    ws.tree->MakeKeyUnreadable(kAcpiPorts + "\\locked");
    ws.Name(kAcpiPorts, "open", "Communications Port (COM3)");
    ws.tree->MakeValueUnreadable(kFtdi + "\\1", keys::kFriendlyName);
    EXPECT_EQ(ws.Discover(), "COM1||,COM3||Communications Port (COM3)");

    ws.tree->MakeKeyUnreadable(keys::kSerialPortClass);
    EXPECT_EQ(ws.Discover(), "COM1||,COM3||");
    ws.tree->MakeKeyUnreadable(keys::kSerialDeviceMap);
    EXPECT_EQ(ws.Discover(), "");
}

TEST(GetSerialPort, VersionDecidesTheLayoutRead) {
    TGetSerialPort real(std::make_shared<TMemoryDeviceTree>());
    TOSVersionInfo info;
#ifdef _WIN32
    EXPECT_GE(real.CheckOS(info), 5);  // the system's own version: 5 and above since Windows 2000
#else
    EXPECT_EQ(real.CheckOS(info), 5);  // the layout the workstation tree presents
    EXPECT_EQ(info.dwMajorVersion, 5u);
#endif
    EXPECT_EQ(info.dwOSVersionInfoSize, 148u);

    Workstation ws;
    ws.StandardKinds();
    ws.Port("a", "COM1");
    ws.Port("b", "COM2");
    ws.Name(kAcpiPorts, "1", "Communications Port (COM1)");
    ws.tree->SetValue(std::string(keys::kLegacyPortClass) + "\\0000", keys::kMatchingDeviceId, "*PNP0501");
    ws.tree->SetValue(std::string(keys::kLegacyPortClass) + "\\0001", keys::kMatchingDeviceId, "FTDIBUS\\X");
    ws.Name("\\Enum\\ACPI\\*PNP0501", "1", "Old Port (COM1)");
    ws.Name("\\Enum\\USBPORTS\\FTDIBUS\\X", "1", "Old Adapter (COM2)");

    test::ScopedRecordingSink messages;
    EXPECT_EQ(FixedVersion(ws.tree, 4).GetComPort(), "COM1||Old Port (COM1),COM2||Old Adapter (COM2)");
    EXPECT_EQ(messages->Texts(), (std::vector<std::string>{"ok", "*PNP0501", "FTDIBUS\\X"}));

    messages->Clear();
    EXPECT_EQ(FixedVersion(ws.tree, 5).GetComPort(), "COM1||Communications Port (COM1),COM2||");
    EXPECT_EQ(FixedVersion(ws.tree, -1).GetComPort(), "");  // no search when the query fails
    EXPECT_EQ(FixedVersion(ws.tree, 0).GetComPort(), "");
    EXPECT_TRUE(messages->Texts().empty());
}
