#include "cli/Clisystem.h"

#include <signal.h>

namespace tolm::cli {

void PrepareProcess(int&, char**&) {}

const char* const kPortExamples =
    "  tolm-upgrade-cli upgrade --port COM3 firmware.bin     port number, COM name or device path\n"
    "  tolm-upgrade-cli upgrade --port 7 --wait 120 qr.bin   a Quorin file waits for the announcement\n"
    "  tolm-upgrade-cli identify --json firmware.bin\n"
    "  tolm-upgrade-cli ports link COM3 /dev/serial/by-id/...\n";

void KeepOnAtFileSizeLimit() { signal(SIGXFSZ, SIG_IGN); }

void LocalAndUtcTime(std::time_t now, std::tm& local, std::tm& utc) {
    localtime_r(&now, &local);
    gmtime_r(&now, &utc);
}

}  // namespace tolm::cli
