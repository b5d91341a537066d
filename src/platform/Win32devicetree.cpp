#include "platform/Win32devicetree.h"

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
        std::wstring subkey;
        for (const auto& name : SplitDeviceTreePath(path)) subkey += (subkey.empty() ? L"" : L"\\") + Utf8ToWide(name);
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, subkey.c_str(), 0, KEY_READ, &key_) != ERROR_SUCCESS) key_ = nullptr;
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
    std::wstring name(kNameChars, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = kNameChars;
        const LONG r = RegEnumKeyExW(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;  // ERROR_NO_MORE_ITEMS, or the key cannot be listed further
        names.push_back(WideToUtf8(name.substr(0, length)));
    }
    return names;
}

std::vector<std::string> TRegistryDeviceTree::ValueNames(const std::string& path) const {
    std::vector<std::string> names;
    TOpenKey key(path);
    if (!key.Get()) return names;
    std::wstring name(kValueNameChars, L'\0');
    for (DWORD index = 0;; ++index) {
        DWORD length = kValueNameChars;
        const LONG r = RegEnumValueW(key.Get(), index, name.data(), &length, nullptr, nullptr, nullptr, nullptr);
        if (r != ERROR_SUCCESS) break;
        names.push_back(WideToUtf8(name.substr(0, length)));
    }
    return names;
}

std::optional<std::string> TRegistryDeviceTree::ReadString(const std::string& path, const std::string& name) const {
    TOpenKey key(path);
    if (!key.Get()) return std::nullopt;
    const std::wstring valueName = Utf8ToWide(name);
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    if (type != REG_SZ && type != REG_EXPAND_SZ) return std::nullopt;
    // Sizes are in bytes. The value may grow between two calls: it is asked
    // for again with the size it has then.
    std::wstring text;
    LONG r = ERROR_MORE_DATA;
    while (r == ERROR_MORE_DATA) {
        text.assign(size / sizeof(wchar_t) + 1, L'\0');
        size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        r = RegQueryValueExW(key.Get(), valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size);
    }
    if (r != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ)) return std::nullopt;
    text.resize(size / sizeof(wchar_t));
    // A stored text may or may not end in its terminating NUL.
    while (!text.empty() && text.back() == L'\0') text.pop_back();
    return WideToUtf8(text);
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
