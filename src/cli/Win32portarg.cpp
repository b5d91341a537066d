// The --port argument on Windows: a port number ("3"), a COM name in any
// case ("COM3") or the device name ("\\.\COM3"). A port number is a COM
// number, so there are no device paths to give numbers to.
#include "cli/Portarg.h"

#include <cctype>

#include "cli/Cliargs.h"

namespace tolm::cli {

const char* const kPortForms = "port number (3) or COM name (COM3)";

namespace {
bool AllDigits(const std::string& s) {
    if (s.empty() || s.size() > 4) return false;
    for (unsigned char c : s)
        if (!std::isdigit(c)) return false;
    return true;
}

bool IsComPrefix(const std::string& text) {
    return text.size() > 3 && std::toupper(static_cast<unsigned char>(text[0])) == 'C' &&
           std::toupper(static_cast<unsigned char>(text[1])) == 'O' &&
           std::toupper(static_cast<unsigned char>(text[2])) == 'M';
}
}  // namespace

PortArg::PortArg(const std::string& text) : text_(text) {
    std::string name = text;
    if (name.rfind("\\\\.\\", 0) == 0) name = name.substr(4);
    const std::string digits = IsComPrefix(name) ? name.substr(3) : name;
    if (!AllDigits(digits))
        throw UsageError("--port takes a number (3) or a COM name (COM3), not \"" + text + "\"");
    number_ = std::stoi(digits);
    if (number_ < 1 || number_ > 255) throw UsageError("port number " + digits + " is outside 1 to 255");
}

PortArg::~PortArg() = default;

}  // namespace tolm::cli
