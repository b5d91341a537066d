#include "serial/Adapternames.h"

#include <cctype>

#include "platform/Devicetreekeys.h"

namespace tolm {

namespace keys = devicetree_keys;

namespace {

// 5 for "COM5" in any case; 0 for any other name (LPT1, a text with more in it).
int ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6) return 0;
    for (size_t i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return 0;
    int n = 0;
    for (size_t i = 3; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i]))) return 0;
        n = n * 10 + (name[i] - '0');
    }
    return n;
}
}  // namespace

std::map<int, std::string> AdapterPortNames(const TDeviceTree& tree) {
    std::map<int, std::string> names;
    for (const char* enumerator : {keys::kEnumFtdiBus, keys::kEnumUsb}) {
        for (const auto& device : tree.KeyNames(enumerator)) {
            const std::string deviceKey = std::string(enumerator) + "\\" + device;
            for (const auto& instance : tree.KeyNames(deviceKey)) {
                const std::string instanceKey = deviceKey + "\\" + instance;
                const auto port = tree.ReadString(instanceKey + "\\" + keys::kDeviceParameters, keys::kPortName);
                const auto name = tree.ReadString(instanceKey, keys::kFriendlyName);
                const int number = port ? ComNumber(*port) : 0;
                if (number > 0 && name && !name->empty()) names.emplace(number, *name);
            }
        }
    }
    return names;
}

}  // namespace tolm
