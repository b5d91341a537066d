#include <string>

#include "cli/Removal.h"
#include "toolkit/Win32text.h"

#include <windows.h>

namespace tolm::cli {

// The COM name's target among the system's devices: the system's own serial
// driver names its ports \Device\Serial<n>; adapters (USB, FTDI) and Bluetooth
// links have drivers of their own names.
bool IsBuiltinUart(const std::string& path) {
    std::string name = path;
    if (const size_t slash = name.find_last_of("\\/"); slash != std::string::npos) name = name.substr(slash + 1);
    std::wstring target(1024, L'\0');
    const DWORD n = QueryDosDeviceW(Utf8ToWide(name).c_str(), target.data(), static_cast<DWORD>(target.size()));
    if (n == 0) return false;
    return std::wstring(target.c_str()).rfind(L"\\Device\\Serial", 0) == 0;
}

}  // namespace tolm::cli
