// Watches the ports of a station on Windows (Portnodewatch.h): a port's node
// is its COM name among the system's devices (QueryDosDevice; under Wine
// also a link in the prefix's dosdevices folder), which comes and goes with
// its adapter. Each look compares what the name leads to with
// the look before; a change, or the name coming or going, counts. A device
// that goes and comes back between two looks under the same name is not seen
// here; the child's own look at the line (its probe) still tells.
#include "cli/Portnodewatch.h"

#include <string>

#include "platform/Portmap.h"

#include <windows.h>

namespace tolm::cli {

namespace {
// "COM3" of "\\.\COM3"; empty for a path that names no COM port.
std::wstring ComName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "COM") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos)
        return {};
    return std::wstring(name.begin(), name.end());
}

// What the name leads to now; empty when there is no such device. A port
// that is there without a name in the device namespace (a link of Wine's)
// leads to something unknown.
std::wstring Target(const std::wstring& name) {
    if (name.empty()) return {};
    std::wstring target(4096, L'\0');
    const DWORD n = QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size()));
    if (n != 0) {
        target.resize(wcslen(target.c_str()));
        return target;
    }
    return PortMap::PortPresent(std::stoi(std::string(name.begin() + 3, name.end()))) ? L"?" : L"";
}
}  // namespace

struct TPortNodeWatch::TImpl {
    struct TPort {
        TStartPaths startPaths;
        std::wstring target;  // what the port's name led to at the last look
        unsigned long changes = 0;
    };
    std::vector<TPort> ports;
};

TPortNodeWatch::TPortNodeWatch() : impl_(std::make_unique<TImpl>()) {}

TPortNodeWatch::~TPortNodeWatch() = default;

namespace {
std::wstring TargetOf(const TPortNodeWatch::TStartPaths& startPaths) {
    std::wstring name;
    for (const auto& path : startPaths())
        if (name.empty()) name = ComName(path);
    return Target(name);
}
}  // namespace

size_t TPortNodeWatch::Add(TStartPaths startPaths) {
    std::wstring target = TargetOf(startPaths);
    impl_->ports.push_back({std::move(startPaths), std::move(target), 0});
    return impl_->ports.size() - 1;
}

void TPortNodeWatch::Take() {
    for (auto& port : impl_->ports) {
        const std::wstring now = TargetOf(port.startPaths);
        if (now != port.target) ++port.changes;
        port.target = now;
    }
}

unsigned long TPortNodeWatch::Changes(size_t port) const {
    return port < impl_->ports.size() ? impl_->ports[port].changes : 0;
}

}  // namespace tolm::cli
