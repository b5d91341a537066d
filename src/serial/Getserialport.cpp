#include "serial/Getserialport.h"

#include <cctype>

#include "platform/Devicetreekeys.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Messages.h"

namespace tolm {

namespace {

namespace keys = devicetree_keys;

// The highest port number the result lists.
constexpr int kLastListedPort = 49;

std::string Trim(const std::string& text) {
    size_t first = 0, last = text.size();
    while (first < last && static_cast<unsigned char>(text[first]) <= ' ') ++first;
    while (last > first && static_cast<unsigned char>(text[last - 1]) <= ' ') --last;
    return text.substr(first, last - first);
}

std::string UpperCase(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Value of a run of decimal digits; 0 when empty or too long to be a port number.
int DigitsValue(const std::string& digits) {
    if (digits.empty() || digits.size() > 6) return 0;
    int value = 0;
    for (char c : digits) value = value * 10 + (c - '0');
    return value;
}

// The number of a port name such as "COM12" ("Com" in any case); 0 when it has none.
int PortNumberOfName(const std::string& portName) {
    if (portName.size() <= 3 || UpperCase(portName.substr(0, 3)) != "COM") return 0;
    std::string digits = portName.substr(3);
    for (char c : digits)
        if (!IsDigit(c)) return 0;
    return DigitsValue(digits);
}

// The port a readable device name belongs to: the number of its last "COM<digits>"
// (names end in their port, "USB Serial Port (COM4)"); 0 when it mentions none.
int PortNumberOfDeviceName(const std::string& deviceName) {
    const std::string upper = UpperCase(deviceName);
    int number = 0;
    for (size_t at = upper.find("COM"); at != std::string::npos; at = upper.find("COM", at + 1)) {
        size_t end = at + 3;
        while (end < upper.size() && IsDigit(upper[end])) ++end;
        if (end > at + 3) number = DigitsValue(upper.substr(at + 3, end - at - 3));
    }
    return number;
}

// The readable name of a port: the first device name of the same port number.
// Numbers are compared whole, so COM1 never takes the name of COM12.
std::string DeviceNameOf(const std::string& portName, const std::vector<std::string>& deviceNames) {
    const int number = PortNumberOfName(portName);
    for (const auto& name : deviceNames) {
        if (number > 0 ? PortNumberOfDeviceName(name) == number : name.find(portName) != std::string::npos)
            return name;
    }
    return std::string();
}

}  // namespace

TGetSerialPort::TGetSerialPort(std::shared_ptr<const TDeviceTree> tree)
    : tree_(tree ? std::move(tree) : MakeWorkstationDeviceTree()) {}

TGetSerialPort::~TGetSerialPort() = default;

int TGetSerialPort::CheckOS(TOSVersionInfo& info) {
    info = TOSVersionInfo{};
    info.dwOSVersionInfoSize = sizeof(TOSVersionInfo);
    if (!QueryOSVersion(info)) return -1;
    return static_cast<int>(info.dwMajorVersion);
}

void TGetSerialPort::GetSerialCom() {
    portNames_.clear();
    deviceNames_.clear();
    auto map = TDeviceTreeKey::OpenKeyReadOnly(*tree_, keys::kSerialDeviceMap);
    if (!map) return;
    for (const auto& valueName : map->GetValueNames()) {
        auto text = map->ReadString(valueName);
        if (text && text->size() >= 3 && UpperCase(text->substr(0, 3)) == "COM") portNames_.push_back(*text);
    }
}

void TGetSerialPort::AddFriendlyNames(const std::string& keyPath, NameCase nameCase) {
    auto parent = TDeviceTreeKey::OpenKeyReadOnly(*tree_, keyPath);
    if (!parent) return;
    for (const auto& subkeyName : parent->GetKeyNames()) {
        auto device = TDeviceTreeKey::OpenKeyReadOnly(*tree_, keyPath + "\\" + subkeyName);
        if (!device) continue;
        for (const auto& valueName : device->GetValueNames()) {
            const std::string trimmed = Trim(valueName);
            const bool isFriendlyName = nameCase == NameCase::Exact
                                            ? trimmed == keys::kFriendlyName
                                            : UpperCase(trimmed) == UpperCase(keys::kFriendlyName);
            if (!isFriendlyName) continue;
            if (auto text = device->ReadString(valueName)) deviceNames_.push_back(*text);
        }
    }
}

void TGetSerialPort::GetstandardCom(const std::string& keyPath) { AddFriendlyNames(keyPath, NameCase::Ignored); }

void TGetSerialPort::GetUSBCom(const std::string& keyPath) { AddFriendlyNames(keyPath, NameCase::Ignored); }

void TGetSerialPort::GetbluetoothCom() { AddFriendlyNames(keys::kEnumBluetoothPorts, NameCase::Exact); }

void TGetSerialPort::Get2K_XP() {
    GetSerialCom();
    const std::string classKey = keys::kSerialPortClass;
    if (auto portClass = TDeviceTreeKey::OpenKeyReadOnly(*tree_, classKey)) {
        for (const auto& subkeyName : portClass->GetKeyNames()) {
            auto kind = TDeviceTreeKey::OpenKeyReadOnly(*tree_, classKey + "\\" + subkeyName);
            if (!kind) continue;
            for (const auto& valueName : kind->GetValueNames()) {
                if (Trim(valueName) != keys::kMatchingDeviceId) continue;
                auto id = kind->ReadString(valueName);
                if (!id) continue;
                if (id->size() >= 1 && (*id)[0] == '*')
                    GetstandardCom(keys::kEnumAcpi + id->substr(1));
                if (id->size() >= 4 && id->compare(0, 4, "usb\\") == 0)
                    GetUSBCom(keys::kEnumUsb + id->substr(4));
            }
        }
    }
    GetbluetoothCom();
}

void TGetSerialPort::Get98() {
    GetSerialCom();
    ShowMessage("ok");
    const std::string classKey = keys::kLegacyPortClass;
    if (auto portClass = TDeviceTreeKey::OpenKeyReadOnly(*tree_, classKey)) {
        for (const auto& subkeyName : portClass->GetKeyNames()) {
            auto kind = TDeviceTreeKey::OpenKeyReadOnly(*tree_, classKey + "\\" + subkeyName);
            if (!kind) continue;
            for (const auto& valueName : kind->GetValueNames()) {
                if (Trim(valueName) != keys::kMatchingDeviceId) continue;
                auto id = kind->ReadString(valueName);
                if (!id) continue;
                ShowMessage(*id);
                if (!id->empty() && (*id)[0] == '*')
                    GetstandardCom(keys::kLegacyEnumAcpi + *id);
                else
                    GetUSBCom(keys::kLegacyEnumUsbPorts + *id);
            }
        }
    }
    GetbluetoothCom();
}

std::string TGetSerialPort::GetComPort() {
    TOSVersionInfo version;
    const int major = CheckOS(version);
    if (major >= 5)
        Get2K_XP();
    else if (major >= 1)
        Get98();

    struct Entry {
        int number;
        std::string text;
    };
    std::vector<Entry> entries;
    for (const auto& portName : portNames_)
        entries.push_back({PortNumberOfName(portName), portName + "||" + DeviceNameOf(portName, deviceNames_)});

    // By port number, each number once: the first entry of that number.
    std::string result;
    for (int number = 1; number <= kLastListedPort; ++number) {
        for (const auto& entry : entries) {
            if (entry.number != number) continue;
            if (!result.empty()) result += ",";
            result += entry.text;
            break;
        }
    }
    return result;
}

std::vector<TDiscoveredPort> ParseDiscoveredPorts(const std::string& text) {
    std::vector<TDiscoveredPort> ports;
    // Where an entry "COM<digits>||" starts at position at; npos otherwise.
    auto entryBars = [&](size_t at) {
        if (text.size() < at + 3 || UpperCase(text.substr(at, 3)) != "COM") return std::string::npos;
        size_t end = at + 3;
        while (end < text.size() && IsDigit(text[end])) ++end;
        return end > at + 3 && text.compare(end, 2, "||") == 0 ? end : std::string::npos;
    };
    size_t at = 0;
    while (at < text.size()) {
        const size_t bars = entryBars(at);
        if (bars == std::string::npos) break;
        size_t next = std::string::npos;
        for (size_t comma = text.find(',', bars + 2); comma != std::string::npos; comma = text.find(',', comma + 1)) {
            if (entryBars(comma + 1) != std::string::npos) {
                next = comma;
                break;
            }
        }
        TDiscoveredPort port;
        port.Name = text.substr(at, bars - at);
        port.Number = PortNumberOfName(port.Name);
        port.ReadableName = text.substr(bars + 2, (next == std::string::npos ? text.size() : next) - bars - 2);
        ports.push_back(port);
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return ports;
}

// The multi-port component offers discovery as its own operation.
std::string TTolmSerialComm::GetComPort() {
    TGetSerialPort discovery;
    return discovery.GetComPort();
}

}  // namespace tolm
