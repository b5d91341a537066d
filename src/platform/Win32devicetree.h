#pragma once
// The Windows registry as the device tree that port discovery walks: every
// path is a key under HKEY_LOCAL_MACHINE, opened read-only (RegOpenKeyExW with
// KEY_READ) for each question and closed again, so the tree always answers
// as the registry stands. Subkeys come from RegEnumKeyExW, value names from
// RegEnumValueW, texts from RegQueryValueExW (REG_SZ and REG_EXPAND_SZ; any
// other type cannot be read as text). Everything goes through the W calls,
// in UTF-16, and is turned into UTF-8, so a readable name in any script
// ("USB 串列埠 (COM4)") comes out whole, whatever the system's code page.
#include "platform/Devicetree.h"

namespace tolm {

class TRegistryDeviceTree : public TDeviceTree {
public:
    bool KeyExists(const std::string& path) const override;
    std::vector<std::string> KeyNames(const std::string& path) const override;
    std::vector<std::string> ValueNames(const std::string& path) const override;
    std::optional<std::string> ReadString(const std::string& path, const std::string& name) const override;
};

}  // namespace tolm
