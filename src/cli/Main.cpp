// tolm-upgrade-cli: the upgrade of the desktop window for benches and
// scripts, with file identification, the port map and the terminal file
// operations.
#include <QCoreApplication>

#include <cstdio>
#include <cstring>
#include <string>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"

using namespace tolm::cli;

namespace {
const char* kHelp =
    "usage: tolm-upgrade-cli COMMAND [OPTIONS] [ARGS]\n"
    "\n"
    "commands:\n"
    "  upgrade [--port P]... [--json] [--log FILE] [--wait SECONDS] FILE   upgrade devices with FILE\n"
    "  station --port P... [--results FILE.csv] FILE            upgrade every device that arrives\n"
    "  identify [--json] FILE                                   what FILE is and whether it is accepted\n"
    "  ports [--json] | ports link COMn DEVICE | ports unlink COMn   the port map\n"
    "  split FILE                                               cut a two-image scanner file\n"
    "  quorin put|info|delete|df|dir ...                        files on a Quorin terminal\n"
    "  kv send FILE [--chunk N --pause MS | --reply]            send a command file to a KV terminal\n"
    "\n"
    "Each command takes --help.\n";
}

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName("Tolm Upgrade");
    tolm::MarkMainThread();
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h") || !std::strcmp(argv[1], "help")) {
        std::fputs(kHelp, argc < 2 ? stderr : stdout);
        return argc < 2 ? kExitUsage : kExitPass;
    }
    const std::string command = argv[1];
    ArgList args(argv + 2, argv + argc);
    try {
        if (command == "upgrade") return UpgradeCommand(args);
        if (command == "identify") return IdentifyCommand(args);
        if (command == "split") return SplitCommand(args);
        if (command == "ports") return PortsCommand(args);
        if (command == "quorin") return QuorinCommand(args);
        if (command == "kv") return KvCommand(args);
        if (command == "station") return StationCommand(args);
        throw UsageError("unknown command \"" + command + "\"");
    } catch (const UsageError& e) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\nTry 'tolm-upgrade-cli --help'.\n", e.what());
        return kExitUsage;
    } catch (const tolm::Exception& e) {
        std::fprintf(stderr, "tolm-upgrade-cli: %s\n", e.Message.c_str());
        return kExitFailed;
    }
}
