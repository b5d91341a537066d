#pragma once
// Serial port discovery: finds the serial ports that exist and pairs each port
// name with the readable device name the system shows for it. GetComPort
// returns "COM1||Communications Port (COM1),COM5||FT232R USB UART (COM5)":
// entries "port||name" in port-number order, joined by "," ("COM7||" when a
// port has no readable name; "" when there are no ports).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/Devicetree.h"

namespace tolm {

// One entry of the discovery text.
struct TDiscoveredPort {
    int Number = 0;            // 3 for COM3
    std::string Name;          // "COM3"
    std::string ReadableName;  // may be empty
};
// The entries of a discovery text, in its order. A readable name may hold a
// comma, so an entry starts only where "COM<digits>||" follows the comma.
std::vector<TDiscoveredPort> ParseDiscoveredPorts(const std::string& text);

class TGetSerialPort {
public:
    // tree: where the ports are looked up; none means this workstation's serial
    // ports as they are when the object is made.
    explicit TGetSerialPort(std::shared_ptr<const TDeviceTree> tree = nullptr);
    virtual ~TGetSerialPort();
    TGetSerialPort(const TGetSerialPort&) = delete;
    TGetSerialPort& operator=(const TGetSerialPort&) = delete;

    // The whole discovery.
    std::string GetComPort();

    // Fills the version record; returns the major version, or -1 when the query fails.
    virtual int CheckOS(TOSVersionInfo& info);
    // Discovery for major version 5 and above.
    void Get2K_XP();
    // Discovery for major versions 1 to 4 (shows "ok" and every device id as it goes).
    void Get98();
    // Empties both lists, then fills the port names from the serial device map.
    void GetSerialCom();
    // Add the friendly names of the device instances under a key path.
    void GetstandardCom(const std::string& keyPath);
    void GetUSBCom(const std::string& keyPath);
    // Adds the friendly names of the Bluetooth serial links.
    void GetbluetoothCom();

    const std::vector<std::string>& PortNames() const { return portNames_; }
    const std::vector<std::string>& DeviceNames() const { return deviceNames_; }

private:
    enum class NameCase { Ignored, Exact };
    void AddFriendlyNames(const std::string& keyPath, NameCase nameCase);

    std::shared_ptr<const TDeviceTree> tree_;
    std::vector<std::string> portNames_;
    std::vector<std::string> deviceNames_;
};

}  // namespace tolm
