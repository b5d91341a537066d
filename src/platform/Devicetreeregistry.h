#pragma once
// The Windows registry as the device tree that port discovery walks: every
// path is a key under HKEY_LOCAL_MACHINE, opened read-only (RegOpenKeyExA with
// KEY_READ) for each question and closed again, so the tree always answers
// as the registry stands. Subkeys come from RegEnumKeyExA, value names from
// RegEnumValueA, texts from RegQueryValueExA (REG_SZ and REG_EXPAND_SZ; any
// other type cannot be read as text). Names and texts are turned from the
// ANSI code page into UTF-8, and paths back.
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
