// tolm-devsim: emulated scanners, docking stations and terminals on a
// pseudo-terminal, and generation of firmware files for them.
//
//   tolm-devsim run DEVICE [--link PATH] [--image-out FILE] [--baud-emulation] [--set KEY=VALUE]...
//                   [--fault KIND:WHEN[:KEY=VALUE]...]... [--fault-log FILE] [--transfer-log FILE]
//                   [--start-log FILE] [--quiet-after-image MS]
//
// --transfer-log appends a line for every image the device has received in
// full, so that a test can count the upgrades a session made; --start-log one
// for every transfer a scanner or docking station started, so that it can
// count the attempts. --quiet-after-image leaves every request unanswered for
// MS milliseconds after each image, as a device rebooting into it.
//
// --baud-emulation paces the line at the device's speed (--set baud=N, 115200
// by default; a KV terminal sets its own), so that a pty takes the time a
// serial line would. --fault makes the line misbehave (Faults.h; `list` tells).
//   tolm-devsim gen KIND --out FILE [--set KEY=VALUE]...
//   tolm-devsim list
//   tolm-devsim --version
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "Device.h"
#include "Faults.h"
#include "Server.h"
#include "tolm/Version.h"

using namespace tolm::devsim;

namespace {
int Usage(const char* why) {
    if (why) std::fprintf(stderr, "tolm-devsim: %s\n", why);
    std::fprintf(stderr,
                 "usage: tolm-devsim run DEVICE [--link PATH] [--image-out FILE] [--baud-emulation]\n"
                 "                       [--set KEY=VALUE]... [--fault KIND:WHEN[:KEY=VALUE]...]... [--fault-log FILE]\n"
                 "                       [--transfer-log FILE] [--start-log FILE] [--quiet-after-image MS]\n"
                 "       tolm-devsim gen KIND --out FILE [--set KEY=VALUE]...\n"
                 "       tolm-devsim list\n"
                 "       tolm-devsim --version\n");
    return 2;
}

int List() {
    std::printf("devices:\n");
    for (auto& [name, e] : Devices()) std::printf("  %-16s %s\n", name.c_str(), e.help.c_str());
    std::printf("generators:\n");
    for (auto& [name, e] : Generators()) std::printf("  %-16s %s\n", name.c_str(), e.help.c_str());
    std::printf("faults (run):\n%s", Fault::Help());
    std::printf("run options:\n"
                "  --transfer-log FILE       a line per image received in full\n"
                "  --start-log FILE          a line per transfer started (scanners and docking stations)\n"
                "  --quiet-after-image MS    no answer to anything for MS ms after each image (a reboot)\n");
    return 0;
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return Usage(nullptr);
    std::string verb = argv[1];
    if (verb == "list") return List();
    if (verb == "--version") {
        std::printf("tolm-devsim %s\n", tolm::kVersion);
        return 0;
    }
    if (verb == "--help" || verb == "-h") {
        Usage(nullptr);
        return List();
    }
    if (argc < 3) return Usage("missing device or generator name");
    std::string name = argv[2];
    Options options;
    ServerSettings settings;
    for (int i = 3; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&](const char* what) -> std::string {
            if (i + 1 >= argc) {
                Usage((std::string(what) + " needs a value").c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (arg == "--link") {
            settings.linkPath = value("--link");
        } else if (arg == "--image-out") {
            settings.imageOut = value("--image-out");
        } else if (arg == "--baud-emulation") {
            settings.baudEmulation = true;
        } else if (arg == "--fault") {
            std::string error;
            auto fault = Fault::Parse(value("--fault"), error);
            if (!fault) return Usage(error.c_str());
            settings.faults.push_back(*fault);
        } else if (arg == "--fault-log") {
            settings.faultLog = value("--fault-log");
        } else if (arg == "--transfer-log") {
            settings.transferLog = value("--transfer-log");
        } else if (arg == "--start-log") {
            settings.startLog = value("--start-log");
        } else if (arg == "--quiet-after-image") {
            settings.quietAfterImageMs = std::atoi(value("--quiet-after-image").c_str());
        } else if (arg == "--out") {
            options.Set("out", value("--out"));
        } else if (arg == "--set") {
            std::string kv = value("--set");
            auto eq = kv.find('=');
            if (eq == std::string::npos) return Usage("--set takes KEY=VALUE");
            options.Set(kv.substr(0, eq), kv.substr(eq + 1));
        } else {
            return Usage(("unknown argument: " + arg).c_str());
        }
    }
    if (verb == "gen") {
        auto it = Generators().find(name);
        if (it == Generators().end()) return Usage(("unknown generator: " + name).c_str());
        if (!options.Has("out")) return Usage("gen needs --out FILE");
        return it->second.generator(options);
    }
    if (verb == "run") {
        auto it = Devices().find(name);
        if (it == Devices().end()) return Usage(("unknown device: " + name).c_str());
        auto device = it->second.device(options);
        if (!device) return 2;
        settings.baud = options.GetInt("baud", 115200);
        return RunServer(*device, settings, options);
    }
    return Usage(("unknown command: " + verb).c_str());
}
