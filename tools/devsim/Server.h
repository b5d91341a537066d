#pragma once
// Serves one emulated device on a pseudo-terminal until SIGINT/SIGTERM.
#include <string>
#include <vector>

#include "Device.h"
#include "Faults.h"

namespace tolm::devsim {

struct ServerSettings {
    std::string linkPath;  // symlink to the pty's device path (e.g. a COMn entry of the port map)
    std::string imageOut;  // where the device's image is written after each transfer and at exit
    long baud = 115200;
    // Pace the line at the device's speed (Device::LineSpeed, else baud), 10
    // bits per byte in each direction: the host's bytes are read no faster
    // than they would arrive, and replies are written as fast as they would
    // go out, so that a pty behaves like a real line in time. At exit the
    // server then prints "LINE <bytes> bytes <seconds> s": the bytes that
    // crossed the line both ways and their line time.
    bool baudEmulation = false;
    std::vector<Fault> faults;  // --fault: what goes wrong with the replies
    std::string faultLog;       // --fault-log: a line per fault that fires
    std::string transferLog;    // --transfer-log: a line per image received in full (counts upgrades)
    std::string startLog;       // --start-log: a line per transfer started (counts attempts)
    int quietAfterImageMs = 0;  // --quiet-after-image: silent this long after each image (a reboot)
};

// Prints "PTY <path>" on stdout (flushed) once the line is ready; returns the exit code.
int RunServer(Device& device, const ServerSettings& settings, const Options& options);

}  // namespace tolm::devsim
