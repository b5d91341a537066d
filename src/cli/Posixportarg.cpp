#include "cli/Portarg.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "cli/Cliargs.h"

namespace tolm::cli {

const char* const kPortForms = "port number (3), COM name (COM3) or device path (/dev/ttyUSB0)";

PortArg::PortArg(const std::string& text) : text_(text) {
    if (const auto number = ComNumber(text)) {
        number_ = *number;
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
