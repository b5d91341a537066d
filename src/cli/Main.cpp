// tolm-upgrade-cli: the upgrade of the desktop window for benches and
// scripts, with file identification, the port map and the terminal file
// operations.
#include <cstdio>
#include <cstring>
#include <sstream>
#include <string>

#include "cli/Cliargs.h"
#include "cli/Clisystem.h"
#include "cli/Commands.h"
#include "cli/Consoletext.h"
#include "cli/Stopsignals.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"
#include "tolm/Version.h"

using namespace tolm::cli;

namespace {
// The deepest command the command line reached: "tolm-upgrade-cli quorin put".
const CLI::App* ReachedCommand(const CLI::App* app) {
    while (!app->get_subcommands().empty()) app = app->get_subcommands().front();
    return app;
}

std::string CommandPath(const CLI::App* app) {
    std::string path;
    for (; app; app = app->get_parent()) path = app->get_name() + (path.empty() ? "" : " ") + path;
    return path;
}

// "tolm-upgrade-cli: what was wrong" and the help to read, of the command
// whose line was wrong. A word where a command belongs is named as such.
std::string UsageFailure(const CLI::App* top, const CLI::Error& e) {
    const CLI::App* reached = ReachedCommand(top);
    std::string what = e.what();
    const auto extra = reached->remaining();
    auto visible = [](const CLI::App* sub) { return !sub->get_group().empty(); };
    if (dynamic_cast<const CLI::RequiredError*>(&e) && !extra.empty() && !reached->get_subcommands(visible).empty()) {
        std::string names;
        for (const CLI::App* sub : reached->get_subcommands(visible))
            names += (names.empty() ? "" : ", ") + sub->get_name();
        what = "unknown command \"" + extra.front() + "\" (" + names + ")";
    }
    return "tolm-upgrade-cli: " + what + "\nTry '" + CommandPath(reached) + " --help'.\n";
}
}  // namespace

int main(int argc, char** argv) {
    PrepareProcess(argc, argv);
    tolm::MarkMainThread();

    CLI::App cli("Upgrades the firmware of scanners, docking stations and terminals over a serial line.",
                 "tolm-upgrade-cli");
    // A repeated option takes its last value, as scripts that append to a
    // command line expect.
    cli.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
    cli.set_version_flag("--version", std::string("tolm-upgrade-cli ") + tolm::kVersion, "show the version and exit");
    cli.set_help_flag("-h,--help", "show this help and exit");
    cli.require_subcommand(1);
    cli.failure_message(UsageFailure);
    cli.footer(std::string("Examples:\n") + kPortExamples +
               "  tolm-upgrade-cli quorin dir --port 7\n"
               "  tolm-upgrade-cli kv send commands.bin --chunk 64 --pause 20\n"
               "\n"
               "Exit status: 0 pass; 1 any other outcome; 2 usage error or a file that is missing, unreadable or\n"
               "refused; 3 port not opened; " +
               kStopStatusText + " stopped an upgrade.\n" +
               "Each command takes --help.");

    CommandRun run;
    AddUpgradeCommand(cli, run);
    AddIdentifyCommand(cli, run);
    AddPortsCommand(cli, run);
    AddSplitCommand(cli, run);
    AddQuorinCommand(cli, run);
    AddKvCommand(cli, run);
    AddStationCommand(cli, run);
    AddRecordsCommand(cli, run);
    AddReferenceCommand(cli, run);

    if (argc < 2) {
        Print(stderr, cli.help());
        return kExitUsage;
    }
    if (argc == 2 && !std::strcmp(argv[1], "help")) {
        Print(stdout, cli.help());
        return kExitPass;
    }
    try {
        cli.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // --help and --version end here too, with their text on stdout.
        std::ostringstream out, err;
        const int status = cli.exit(e, out, err);
        Print(stdout, out.str());
        Print(stderr, err.str());
        return status == 0 ? kExitPass : kExitUsage;
    }
    try {
        return run();
    } catch (const UsageError& e) {
        Printf(stderr, "tolm-upgrade-cli: %s\nTry '%s --help'.\n", e.what(), CommandPath(ReachedCommand(&cli)).c_str());
        return kExitUsage;
    } catch (const tolm::Exception& e) {
        Printf(stderr, "tolm-upgrade-cli: %s\n", e.Message.c_str());
        return kExitFailed;
    }
}
