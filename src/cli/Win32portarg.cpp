// The --port argument on Windows: a port number ("3"), a COM name in any
// case ("COM3") or the device name ("\\.\COM3"). A port number is a COM
// number, so there are no device paths to give numbers to.
#include "cli/Portarg.h"


#include "cli/Cliargs.h"

namespace tolm::cli {

const char* const kPortForms = "port number (3) or COM name (COM3)";

PortArg::PortArg(const std::string& text) : text_(text) {
    std::string name = text;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    const auto number = ComNumber(name);
    if (!number) throw UsageError("--port takes a number (3) or a COM name (COM3), not \"" + text + "\"");
    number_ = *number;
}

PortArg::~PortArg() = default;

}  // namespace tolm::cli
