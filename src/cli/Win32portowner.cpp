#include "cli/Portowner.h"

#include <cctype>

#include "cli/Portarg.h"
#include "toolkit/Win32text.h"

#include <windows.h>

namespace tolm::cli {

namespace {
std::string Label(const std::string& port) {
    bool number = !port.empty();
    for (char c : port) number = number && std::isdigit(static_cast<unsigned char>(c));
    std::string upper;
    for (char c : port) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (number) return "COM" + port;
    if (upper.rfind("\\\\.\\", 0) == 0) return upper.substr(4);
    return upper;
}

std::wstring MutexName(const std::string& port) { return Utf8ToWide("Local\\tolm-upgrade-station-" + Label(port)); }

std::string OwnerText(const std::string& port) {
    return Label(port) + " is served by a running station: end that station first";
}
}  // namespace

std::unique_ptr<TPortOwner> TPortOwner::Take(const std::string& port, std::string& why) {
    std::unique_ptr<TPortOwner> owner(new TPortOwner);
    HANDLE mutex = CreateMutexW(nullptr, FALSE, MutexName(port).c_str());
    if (mutex && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        why = OwnerText(port);
        return nullptr;
    }
    owner->handle_ = mutex;
    return owner;
}

TPortOwner::~TPortOwner() {
    if (handle_) CloseHandle(static_cast<HANDLE>(handle_));
}

std::string TPortOwner::OwnedBy(const std::string& port) {
    HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, MutexName(port).c_str());
    if (!mutex) return {};
    CloseHandle(mutex);
    return OwnerText(port);
}

}  // namespace tolm::cli
