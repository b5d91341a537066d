#include "platform/Devicetreeregistry.h"

#include "toolkit/Win32text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tolm {

namespace {

// A key of the local machine, open for reading while this object lives.
class TOpenKey {
public:
    explicit TOpenKey(const std::string& path) {
        // The registry takes "A\B\C": no leading, trailing or doubled separators.
        std::string subkey;
        for (const auto& name : SplitDeviceTreePath(path)) subkey += (subkey.empty() ? "" : "\\") + Utf8ToAnsi(name);
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~TOpenKey() {
        if (key_) RegCloseKey(key_);
    }
    TOpenKey(const TOpenKey&) = delete;
    TOpenKey& operator=(const TOpenKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

// Registry names are at most 255 characters (values 16383); the buffer grows if one is longer.
constexpr DWORD kNameChars = 256;
constexpr DWORD kValueNameChars = 16384;

}  // namespace

bool TRegistryDeviceTree::KeyExists(const std::string& path) const { return TOpenKey(path).Get() != nullptr; }

std::vector<std::string> TRegistryDeviceTree::KeyNames(const std::string& path) const {
    std::vector<std::string> names;
    TOpenKey key(path);
    if (!key.Get()) return names;
    std::string name(kNameChars, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameChars;
        const LONG r = RegEnumKeyExA(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or the key cannot be listed further
        names.push_back(AnsiToUtf8(name.substr(0, length)));
    }
    return names;
}

std::vector<std::string> TRegistryDeviceTree::ValueNames(const std::string& path) const {
    std::vector<std::string> names;
    TOpenKey key(path);
    if (!key.Get()) return names;
    std::string name(kValueNameChars, '\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = kValueNameChars;
        const LONG r = RegEnumValueA(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;
        names.push_back(AnsiToUtf8(name.substr(0, length)));
    }
    return names;
}

std::optional<std::string> TRegistryDeviceTree::ReadString(const std::string& path, const std::string& name) const {
    TOpenKey key(path);
    if (!key.Get()) return std::nullopt;
    const std::string valueName = Utf8ToAnsi(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    std::string text(size, '\0');
    LONG r;
    // The value may grow between the two calls: ask again with the new size.
    while ((r = RegQueryValueExA(key.Get(), valueName.c_str(), nullptr, &type,
                                 reinterpret_cast<BYTE*>(text.data()), &size)) == ERROR_MORE_DATA)
        text.resize(size);
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    text.resize(size);
    // A stored text may or may not end in its terminating NUL.
    while (!text.empty() && text.back() == '\0') text.pop_back();
    return AnsiToUtf8(text);
}

std::shared_ptr<const TDeviceTree> MakeWorkstationDeviceTree() { return std::make_shared<TRegistryDeviceTree>(); }

bool QueryOSVersion(TOSVersionInfo& info) {
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    const BOOL ok = GetVersionExA(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    if (!ok) return false;
    static_assert(sizeof version == sizeof info);
    info.dwOSVersionInfoSize = version.dwOSVersionInfoSize;
    info.dwMajorVersion = version.dwMajorVersion;
    info.dwMinorVersion = version.dwMinorVersion;
    info.dwBuildNumber = version.dwBuildNumber;
    info.dwPlatformId = version.dwPlatformId;
    static_assert(sizeof info.szCSDVersion == sizeof version.szCSDVersion);
    for (size_t i = 0; i < sizeof info.szCSDVersion; ++i) info.szCSDVersion[i] = version.szCSDVersion[i];
    return true;
}

}  // namespace tolm
