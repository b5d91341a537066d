// tolm-upgrade-cli ports on Windows: the serial ports that discovery finds in
// the registry, with each port's readable name and whether it is free or in
// use by another program. A port number is a COM number: there is no port
// map to link or unlink.
#include <cctype>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Jsonout.h"
#include "platform/Portaccess.h"
#include "platform/Portmap.h"
#include "serial/Tolmserialcomm.h"

namespace tolm::cli {

namespace {
struct TFoundPort {
    int number = 0;
    std::string name;          // "COM3"
    std::string readableName;  // "USB Serial Port (COM3)"; may be empty
};

// The entries "COMn||readable name" of the discovery text, joined by ",".
// A readable name may hold a comma itself, so an entry starts only where
// "COM<digits>||" does.
std::vector<TFoundPort> ParseDiscovery(const std::string& text) {
    std::vector<TFoundPort> ports;
    size_t at = 0;
    while (at < text.size()) {
        const size_t bars = text.find("||", at);
        if (bars == std::string::npos) break;
        TFoundPort port;
        port.name = text.substr(at, bars - at);
        const std::string digits = port.name.size() > 3 ? port.name.substr(3) : std::string();
        port.number = digits.find_first_not_of("0123456789") == std::string::npos && !digits.empty() && digits.size() < 4
                          ? std::stoi(digits)
                          : 0;
        // The name runs to the next ",COM<digits>||", or to the end.
        size_t end = bars + 2;
        size_t next = std::string::npos;
        for (size_t comma = text.find(",COM", end); comma != std::string::npos; comma = text.find(",COM", comma + 1)) {
            size_t d = comma + 4;
            while (d < text.size() && std::isdigit(static_cast<unsigned char>(text[d]))) ++d;
            if (d > comma + 4 && text.compare(d, 2, "||") == 0) {
                next = comma;
                break;
            }
        }
        port.readableName = text.substr(end, (next == std::string::npos ? text.size() : next) - end);
        if (port.number > 0) ports.push_back(port);
        if (next == std::string::npos) break;
        at = next + 1;
    }
    return ports;
}

int List(bool json, bool discoveryText) {
    TTolmSerialComm comm;
    const std::string text = comm.GetComPort();
    if (discoveryText) {
        std::printf("%s\n", text.c_str());
        return kExitPass;
    }
    TJson list = TJson::array();
    const auto ports = ParseDiscovery(text);
    for (const auto& p : ports) {
        const std::string device = PortMap::DevicePath(p.number);
        const TPortAccess access = ProbePortAccess(device);
        if (json) {
            TJson port = TJson::object();
            port["port"] = p.number;
            PutText(port, "name", p.name);
            PutText(port, "device", device);
            PutText(port, "readable_name", p.readableName);
            PutText(port, "state", PortStateText(access.State));
            list.push_back(port);
        } else {
            if (&p == &ports.front()) std::printf("%-6s %-40s %s\n", "PORT", "NAME", "STATE");
            std::printf("%-6s %-40s %s\n", p.name.c_str(), p.readableName.empty() ? "-" : p.readableName.c_str(),
                        PortAccessText(access).c_str());
        }
    }
    if (json) std::fputs(IndentedJson(list).c_str(), stdout);
    if (!json && ports.empty()) std::printf("no serial ports found\n");
    return kExitPass;
}
}  // namespace

void AddPortsCommand(CLI::App& app, CommandRun& run) {
    struct Options {
        bool json = false;
        bool discovery = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand("ports", "the serial ports of this computer");
    cmd->add_flag("--json", options->json, "print the list as a JSON array");
    cmd->add_flag("--discovery", options->discovery,
                  "print what port discovery returns: \"COMn||readable name\" entries joined by \",\"");
    cmd->footer(
        "Lists the serial ports that the registry names, in port-number order, with their readable names and\n"
        "whether each is free or in use by another program. On Windows a port number is a COM number.");
    cmd->callback([options, &run] { run = [options] { return List(options->json, options->discovery); }; });
}

}  // namespace tolm::cli
