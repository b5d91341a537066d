#include <gtest/gtest.h>

#include "platform/Devicetree.h"
#include "platform/Devicetreekeys.h"
#include "serial/Adapternames.h"

using namespace tolm;
namespace keys = tolm::devicetree_keys;

namespace {

// A device instance as its driver writes it: the FriendlyName in the
// instance's key, the PortName in its "Device Parameters".
void Instance(TMemoryDeviceTree& tree, const std::string& key, const std::string& friendlyName,
              const std::string& portName) {
    tree.SetValue(key, keys::kFriendlyName, friendlyName);
    tree.SetValue(key + "\\" + keys::kDeviceParameters, keys::kPortName, portName);
}

}  // namespace

TEST(AdapterPortNames, NamesComeFromFtdiAndUsbserLayoutsByTheirPortNames) {
    TMemoryDeviceTree tree;
    const std::string ftdi = std::string(keys::kEnumFtdiBus) + "VID_0403+PID_6001+A1B2C3D4A\\0000";
    const std::string usbser = std::string(keys::kEnumUsb) + "VID_2341&PID_0043\\85736323838351F0A1C1";
    const std::string composite = std::string(keys::kEnumUsb) + "VID_1A86&PID_55D4&MI_00\\6&2C1F3A8&0&0000";
    // The name tells another port than the one the adapter was given: the PortName counts.
    Instance(tree, ftdi, "USB Serial Port (COM3)", "COM12");
    Instance(tree, usbser, "USB 串列裝置 (COM4)", "COM4");
    Instance(tree, composite, "USB-Enhanced-SERIAL CH9102 (COM7)", "com7");
    // A printer port, an instance without a port, one without a name: none is a COM port's name.
    Instance(tree, std::string(keys::kEnumUsb) + "VID_067B&PID_2305\\5&1", "USB printer port (LPT2)", "LPT2");
    tree.SetValue(std::string(keys::kEnumUsb) + "VID_046D&PID_C52B\\6&2", keys::kFriendlyName, "Receiver");
    tree.SetValue(std::string(keys::kEnumUsb) + "VID_0403&PID_6015\\7&3\\" + keys::kDeviceParameters, keys::kPortName,
                  "COM9");

    const std::map<int, std::string> expected = {
        {4, "USB 串列裝置 (COM4)"}, {7, "USB-Enhanced-SERIAL CH9102 (COM7)"}, {12, "USB Serial Port (COM3)"}};
    EXPECT_EQ(AdapterPortNames(tree), expected);
}
