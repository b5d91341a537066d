// tolm-upgrade-cli ports on Windows: the serial ports that discovery finds in
// the registry, with each port's readable name and whether it is free or in
// use by another program. A port number is a COM number: there is no port
// map to link or unlink.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Jsonout.h"
#include "platform/Portaccess.h"
#include "platform/Portmap.h"
#include "serial/Getserialport.h"
#include "serial/Tolmserialcomm.h"

namespace tolm::cli {

namespace {
int List(bool json, bool discoveryText) {
    TTolmSerialComm comm;
    const std::string text = comm.GetComPort();
    if (discoveryText) {
        std::printf("%s\n", text.c_str());
        return kExitPass;
    }
    TJson list = TJson::array();
    const auto ports = ParseDiscoveredPorts(text);
    for (const auto& p : ports) {
        const std::string device = PortMap::DevicePath(p.Number);
        const TPortAccess access = ProbePortAccess(device);
        if (json) {
            TJson port = TJson::object();
            port["port"] = p.Number;
            PutText(port, "name", p.Name);
            PutText(port, "device", device);
            PutText(port, "readable_name", p.ReadableName);
            PutText(port, "state", PortStateText(access.State));
            list.push_back(port);
        } else {
            if (&p == &ports.front()) std::printf("%-6s %-40s %s\n", "PORT", "NAME", "STATE");
            std::printf("%-6s %-40s %s\n", p.Name.c_str(), p.ReadableName.empty() ? "-" : p.ReadableName.c_str(),
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
