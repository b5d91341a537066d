#include <cstdlib>
#include <filesystem>

#include "cli/Removal.h"

namespace tolm::cli {

bool IsBuiltinUart(const std::string& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path node = fs::canonical(path, ec);
    if (ec) return false;
    const char* root = std::getenv("TOLM_SYSFS_ROOT");
    const fs::path device =
        fs::canonical(fs::path(root && *root ? root : "/sys") / "class/tty" / node.filename() / "device", ec);
    if (ec) return false;  // a pseudo-terminal, a Bluetooth link: no device of its own
    for (const auto& part : device)
        if (part.string().rfind("usb", 0) == 0) return false;
    return true;
}

}  // namespace tolm::cli
