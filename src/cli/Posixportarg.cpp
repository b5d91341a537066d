#include "cli/Portarg.h"

#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <filesystem>
#include <vector>

#include "cli/Cliargs.h"

namespace tolm::cli {

const char* const kPortForms = "port number (3), COM name (COM3) or device path (/dev/ttyUSB0)";

namespace {
bool AllDigits(const std::string& s) {
    if (s.empty() || s.size() > 4) return false;
    for (unsigned char c : s)
        if (!std::isdigit(c)) return false;
    return true;
}
}  // namespace

PortArg::PortArg(const std::string& text) : text_(text) {
    std::string digits = text;
    if (text.size() > 3 && (text[0] == 'c' || text[0] == 'C') && (text[1] == 'o' || text[1] == 'O') &&
        (text[2] == 'm' || text[2] == 'M'))
        digits = text.substr(3);
    if (AllDigits(digits)) {
        number_ = std::stoi(digits);
        if (number_ < 1 || number_ > 255) throw UsageError("port number " + digits + " is outside 1 to 255");
        return;
    }
    if (text.find('/') == std::string::npos)
        throw UsageError("--port takes a number (3), a COM name (COM3) or a device path (/dev/ttyUSB0), not \"" +
                         text + "\"");
    // A device path: link it as COM1 in a private port directory for this run.
    std::string pattern = std::filesystem::temp_directory_path().string() + "/tolm-port-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (!mkdtemp(buf.data())) throw UsageError("cannot create a temporary port directory");
    privateDir_ = buf.data();
    std::string target = std::filesystem::absolute(text).string();
    if (symlink(target.c_str(), (privateDir_ + "/COM1").c_str()) != 0)
        throw UsageError("cannot link " + text + " as a port");
    setenv("TOLM_PORT_DIR", privateDir_.c_str(), 1);
    number_ = 1;
}

PortArg::~PortArg() {
    if (privateDir_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(privateDir_, ec);
}

}  // namespace tolm::cli
