// tolm-upgrade-cli ports on Windows: the serial ports that discovery finds in
// the registry, with each port's readable name. A port number is a COM
// number: there is no port map to link or unlink.
//
// Windows has no call that tells whether a port is free, or who holds it,
// without opening it, and opening a port can reset the device on it; so the
// list opens no port unless asked to (--probe). A probe opens each port and
// closes it again at once, and does nothing in between: it sets no line
// state, so DTR and RTS stay as the driver has them.
#include <cstdio>
#include <string>
#include <vector>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Jsonout.h"
#include "platform/Devicetree.h"
#include "platform/Portaccess.h"
#include "platform/Portmap.h"
#include "serial/Adapternames.h"
#include "serial/Getserialport.h"
#include "serial/Tolmserialcomm.h"

namespace tolm::cli {

namespace {
int List(bool json, bool probe, bool discoveryText) {
    TTolmSerialComm comm;
    const std::string text = comm.GetComPort();
    if (discoveryText) {
        Printf(stdout, "%s\n", text.c_str());
        return kExitPass;
    }
    // FTDI's and usbser's adapters name their ports in keys that
    // discovery's walk does not reach; their names tie to the port exactly.
    const auto adapterNames = AdapterPortNames(*MakeWorkstationDeviceTree());
    TJson list = TJson::array();
    auto ports = ParseDiscoveredPorts(text);
    for (auto& p : ports)
        if (const auto name = adapterNames.find(p.Number); name != adapterNames.end()) p.ReadableName = name->second;
    for (const auto& p : ports) {
        const std::string device = PortMap::DevicePath(p.Number);
        const TPortAccess access = probe ? ProbePortAccess(device) : TPortAccess{};
        if (json) {
            TJson port = TJson::object();
            port["port"] = p.Number;
            PutText(port, "name", p.Name);
            PutText(port, "device", device);
            PutText(port, "readable_name", p.ReadableName);
            if (probe) PutText(port, "state", PortStateText(access.State));
            list.push_back(port);
        } else {
            if (&p == &ports.front())
                Printf(stdout, probe ? "%-6s %-40s %s\n" : "%-6s %s\n", "PORT", "NAME", "STATE");
            const char* name = p.ReadableName.empty() ? "-" : p.ReadableName.c_str();
            if (probe)
                Printf(stdout, "%-6s %-40s %s\n", p.Name.c_str(), name, PortAccessText(access).c_str());
            else
                Printf(stdout, "%-6s %s\n", p.Name.c_str(), name);
        }
    }
    if (json) Print(stdout, IndentedJson(list));
    if (!json && ports.empty()) Printf(stdout, "no serial ports found\n");
    return kExitPass;
}
}  // namespace

void AddPortsCommand(CLI::App& app, CommandRun& run) {
    struct Options {
        bool json = false;
        bool probe = false;
        bool discovery = false;
    };
    auto options = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand("ports", "the serial ports of this computer");
    cmd->add_flag("--json", options->json, "print the list as a JSON array");
    cmd->add_flag("--probe", options->probe,
                  "open each port briefly to tell whether it is free or in use by another program (this may\n"
                  "reset a device on it; DTR and RTS are left as the driver has them)");
    cmd->add_flag("--discovery", options->discovery,
                  "print what port discovery returns: \"COMn||readable name\" entries joined by \",\"");
    cmd->footer(
        "Lists the serial ports that the registry names, in port-number order, with their readable names.\n"
        "No port is opened unless --probe is given. On Windows a port number is a COM number.");
    cmd->callback([options, &run] {
        run = [options] { return List(options->json, options->probe, options->discovery); };
    });
}

}  // namespace tolm::cli
