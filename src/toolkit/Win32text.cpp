#include "toolkit/Win32text.h"

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <shellapi.h>

#include <vector>

namespace tolm {

namespace {
std::wstring ToWide(const std::string& text, UINT codePage) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = MultiByteToWideChar(codePage, 0, text.data(), size, nullptr, 0);
    if (n <= 0) return {};
    std::wstring wide(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(codePage, 0, text.data(), size, wide.data(), n);
    return wide;
}

std::string FromWide(const std::wstring& text, UINT codePage) {
    if (text.empty()) return {};
    const int size = static_cast<int>(text.size());
    const int n = WideCharToMultiByte(codePage, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return {};
    std::string narrow(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(codePage, 0, text.data(), size, narrow.data(), n, nullptr, nullptr);
    return narrow;
}
}  // namespace

std::wstring Utf8ToWide(const std::string& text) { return ToWide(text, CP_UTF8); }
std::string WideToUtf8(const std::wstring& text) { return FromWide(text, CP_UTF8); }
std::wstring Utf8ToWidePath(const std::string& path) {
    const std::wstring wide = Utf8ToWide(path);
    auto startsWith = [](const std::wstring& text, const wchar_t* prefix) { return text.rfind(prefix, 0) == 0; };
    if (wide.empty() || startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\")) return wide;
    // The full path, with "." and ".." resolved and "/" turned into "\": the
    // extended form takes the name as it is.
    std::wstring full(wide.size() + MAX_PATH, L'\0');
    DWORD n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        full.resize(n);
        n = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) return wide;
    full.resize(n);
    if (startsWith(full, L"\\\\?\\") || startsWith(full, L"\\\\.\\")) return full;  // a device, such as NUL
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    if (full.size() >= 3 && full[1] == L':' && full[2] == L'\\') return L"\\\\?\\" + full;
    return wide;
}

std::string AnsiToUtf8(const std::string& text) { return WideToUtf8(ToWide(text, CP_ACP)); }
std::string Utf8ToAnsi(const std::string& text) { return FromWide(Utf8ToWide(text), CP_ACP); }

void UseUtf8CommandLine(int& argc, char**& argv) {
    static std::vector<std::string> texts;
    static std::vector<char*> pointers;
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return;
    texts.clear();
    for (int i = 0; i < count; ++i) texts.push_back(WideToUtf8(wide[i]));
    LocalFree(wide);
    pointers.clear();
    for (auto& text : texts) pointers.push_back(text.data());
    pointers.push_back(nullptr);
    argc = count;
    argv = pointers.data();
}

}  // namespace tolm
