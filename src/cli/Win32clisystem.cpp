#include "cli/Clisystem.h"

#include <cstdio>

#include "platform/Win32programmutex.h"
#include "toolkit/Win32text.h"

namespace tolm::cli {

void PrepareProcess(int& argc, char**& argv) {
    MarkProgramRunning();
    UseUtf8CommandLine(argc, argv);
    std::setvbuf(stderr, nullptr, _IONBF, 0);
}

const char* const kPortExamples =
    "  tolm-upgrade-cli upgrade --port COM3 firmware.bin     port number or COM name\n"
    "  tolm-upgrade-cli upgrade --port 7 --wait 120 qr.bin   a Quorin file waits for the announcement\n"
    "  tolm-upgrade-cli identify --json firmware.bin\n"
    "  tolm-upgrade-cli ports\n";

void KeepOnAtFileSizeLimit() {}

void LocalAndUtcTime(std::time_t now, std::tm& local, std::tm& utc) {
    localtime_s(&local, &now);
    gmtime_s(&utc, &now);
}

}  // namespace tolm::cli
