// Several ports at once and station mode on Windows, for now: both run one
// child process per port, and the Win32 twin of that process and pipe
// mechanics is not built yet. Until it is, they say so and end with the
// usage status; a single port upgrades as everywhere else.
#include <cstdio>

#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Multiupgrade.h"
#include "cli/Reportedrun.h"

namespace tolm::cli {

namespace {
constexpr const char* kNotYet = "tolm-upgrade-cli: several ports at once and station mode do not run on Windows yet\n";
}  // namespace

int MultiUpgrade(const TMultiUpgradeOptions&) {
    std::fputs(kNotYet, stderr);
    return kExitUsage;
}

void AddStationCommand(CLI::App& app, CommandRun& run) {
    CLI::App* cmd = app.add_subcommand("station", "serve a bench of ports (not on Windows yet)");
    cmd->allow_extras();
    cmd->callback([&run] {
        run = [] {
            std::fputs(kNotYet, stderr);
            return kExitUsage;
        };
    });
}

// The child side of a multi-port run (--progress-fd) exists only with its parent.
TReportedRun::TReportedRun(int fd, TForm1& form) : fd_(fd), form_(form) {}
TReportedRun::~TReportedRun() = default;
void TReportedRun::State(const std::string&) {}
void TReportedRun::Family() {}
void TReportedRun::Finish(const std::string&, const std::string&) {}
bool TReportedRun::WaitForArrival(int) { return false; }
bool TReportedRun::WaitForRemoval(int) { return false; }

}  // namespace tolm::cli
