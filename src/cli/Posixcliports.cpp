// tolm-upgrade-cli ports: the port map with each port's readable name and
// state, and making or removing the links of the port directory.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Jsonout.h"
#include "platform/Posixportassign.h"
#include "platform/Portaccess.h"
#include "platform/Posixserialports.h"

namespace tolm::cli {

namespace {
// "used_by": [{"command": "minicom", "pid": 1234}] for a port in use by
// processes that /proc shows; nothing otherwise.
void PutHolders(TJson& port, const TPortAccess& access) {
    if (access.Holders.empty()) return;
    TJson holders = TJson::array();
    for (const auto& holder : access.Holders) {
        TJson entry = TJson::object();
        entry["pid"] = static_cast<int64_t>(holder.Pid);
        PutText(entry, "command", holder.Command);
        holders.push_back(entry);
    }
    port["used_by"] = holders;
}

// "COM3" (any case) to 3; 0 when the text is no COM name.
int ComNumber(const std::string& text) {
    if (text.size() < 4 || strncasecmp(text.c_str(), "com", 3) != 0) return 0;
    int n = 0;
    for (size_t i = 3; i < text.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(text[i])) || n > 999) return 0;
        n = n * 10 + (text[i] - '0');
    }
    return n >= 1 && n <= 255 ? n : 0;
}

int List(bool json) {
    const TPortLookup lookup = AssignAdapterPorts();
    if (!lookup.Problem.empty()) std::fprintf(stderr, "tolm-upgrade-cli: %s\n", lookup.Problem.c_str());
    for (const auto& made : lookup.Made)
        std::fprintf(stderr, "COM%d assigned to %s (%s)\n", made.Number, made.Device.c_str(), made.Identity.c_str());
    const auto ports = FindSerialPorts();
    TJson list = TJson::array();
    bool first = true;
    for (const auto& p : ports) {
        const TPortAccess access = ProbePortAccess(p.DevicePath);
        if (json) {
            TJson port = TJson::object();
            port["port"] = p.Number;
            PutText(port, "name", p.PortName());
            PutText(port, "device", p.DevicePath);
            PutText(port, "readable_name", p.ReadableName());
            PutText(port, "state", PortStateText(access.State));
            PutHolders(port, access);
            list.push_back(port);
        } else {
            if (first) std::printf("%-6s %-40s %-36s %s\n", "PORT", "DEVICE", "NAME", "STATE");
            std::printf("%-6s %-40s %-36s %s\n", p.PortName().c_str(), p.DevicePath.c_str(),
                        p.ReadableName().empty() ? "-" : p.ReadableName().c_str(), PortAccessText(access).c_str());
        }
        first = false;
    }
    if (json) std::fputs(IndentedJson(list).c_str(), stdout);
    if (!json && first) std::printf("no serial ports found (port directory: %s)\n", SysfsPortDirectory().c_str());
    return kExitPass;
}

int Link(const std::string& name, const std::string& device) {
    const int n = ComNumber(name);
    if (n == 0) throw UsageError("\"" + name + "\" is not a port name such as COM3");
    struct stat st {};
    if (stat(device.c_str(), &st) != 0) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s: %s\n", device.c_str(), std::strerror(errno));
        return kExitFailed;
    }
    if (!S_ISCHR(st.st_mode)) std::fprintf(stderr, "warning: %s is not a character device\n", device.c_str());
    const std::string target = std::filesystem::absolute(device).string();
    if (const std::string problem = LinkPortEntry(n, target); !problem.empty()) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", problem.c_str());
        return kExitFailed;
    }
    std::printf("COM%d -> %s\n", n, target.c_str());
    return kExitPass;
}

int Unlink(const std::string& name) {
    const int n = ComNumber(name);
    if (n == 0) throw UsageError("\"" + name + "\" is not a port name such as COM3");
    if (const std::string problem = UnlinkPortEntry(n); !problem.empty()) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", problem.c_str());
        return kExitFailed;
    }
    return kExitPass;
}
}  // namespace

void AddPortsCommand(CLI::App& app, CommandRun& run) {
    struct Options {
        bool json = false;
        std::string name, device;
    };
    auto options = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand("ports", "the port map: list, link or unlink");
    cmd->add_flag("--json", options->json, "print the list as a JSON array");
    cmd->require_subcommand(0, 1);
    cmd->footer(
        "Lists the ports that a port number reaches (port directory links and built-in ports) with their\n"
        "readable names and each one's state for this account: free, in use (by which process, where /proc\n"
        "tells), no permission, or absent; link and unlink edit the port directory\n"
        "($TOLM_PORT_DIR, else $XDG_CONFIG_HOME/tolm-upgrade/ports, else ~/.config/tolm-upgrade/ports).");

    CLI::App* linkCmd = cmd->add_subcommand("link", "make port COMn reach DEVICE");
    linkCmd->add_option("COMn", options->name, "port name, such as COM3")->required();
    linkCmd->add_option("DEVICE", options->device, "the device, preferably by a stable name (/dev/serial/by-id/...)")
        ->required();
    CLI::App* unlinkCmd = cmd->add_subcommand("unlink", "remove the link of port COMn");
    unlinkCmd->add_option("COMn", options->name, "port name, such as COM3")->required();

    // The parent's callback runs once its sub-command is read, so it decides.
    cmd->callback([options, linkCmd, unlinkCmd, &run] {
        if (linkCmd->parsed())
            run = [options] { return Link(options->name, options->device); };
        else if (unlinkCmd->parsed())
            run = [options] { return Unlink(options->name); };
        else
            run = [options] { return List(options->json); };
    });
}

}  // namespace tolm::cli
