#include "cli/Portlist.h"

#include <sys/stat.h>

#include <map>

#include "cli/Cliargs.h"
#include "cli/Portarg.h"
#include "platform/Portmap.h"

namespace tolm::cli {

namespace {
constexpr int kLargestRange = 255;

std::vector<std::string> SplitAtCommas(const std::string& text) {
    std::vector<std::string> items;
    size_t start = 0;
    while (true) {
        size_t comma = text.find(',', start);
        items.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return items;
        start = comma + 1;
    }
}

// The port number of "7" or "COM7" (PortArg's rules), for the ends of a range.
int RangeEnd(const std::string& text) {
    if (text.find('/') != std::string::npos) throw UsageError("a port range takes numbers, not \"" + text + "\"");
    return PortArg(text).Number();
}

// The key under which a port counts as listed twice: the device it reaches,
// so that a number and a path to the same device are one port; where there
// is no device, its number or its path.
std::string Identity(const std::string& item) {
    const bool path = item.find('/') != std::string::npos;
    const std::string name = path ? item : "COM" + std::to_string(PortArg(item).Number());
    const std::string device = path ? item : PortMap::DevicePath(PortArg(item).Number());
    struct stat st {};
    if (stat(device.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) return "device " + std::to_string(st.st_rdev);
    return name;
}
}  // namespace

std::vector<std::string> ExpandPortList(const std::vector<std::string>& texts) {
    std::vector<std::string> ports;
    std::map<std::string, std::string> seen;  // identity -> the item that had it first
    auto add = [&](const std::string& item) {
        const auto [it, added] = seen.emplace(Identity(item), item);
        if (!added && it->second == item) throw UsageError("port " + item + " is listed twice");
        if (!added) throw UsageError("ports " + it->second + " and " + item + " are the same device");
        ports.push_back(item);
    };
    for (const auto& text : texts) {
        for (const auto& item : SplitAtCommas(text)) {
            if (item.empty()) throw UsageError("--port \"" + text + "\" holds an empty item");
            const size_t dash = item.find('-');
            if (item.find('/') != std::string::npos || dash == std::string::npos) {
                add(item);
                continue;
            }
            const int first = RangeEnd(item.substr(0, dash)), last = RangeEnd(item.substr(dash + 1));
            if (last < first) throw UsageError("port range " + item + " runs backwards");
            if (last - first >= kLargestRange) throw UsageError("port range " + item + " is too long");
            for (int n = first; n <= last; ++n) add(std::to_string(n));
        }
    }
    return ports;
}

}  // namespace tolm::cli
