// SCRATCH: stands in for the multi-port and station units until they run on Windows.
#include <cstdio>
#include "cli/Cliargs.h"
#include "cli/Commands.h"
#include "cli/Multiupgrade.h"
#include "cli/Reportedrun.h"
namespace tolm::cli {
int MultiUpgrade(const TMultiUpgradeOptions&) { std::fprintf(stderr, "several ports: not yet\n"); return kExitUsage; }
void AddStationCommand(CLI::App&, CommandRun&) {}
TReportedRun::TReportedRun(int fd, TForm1& form) : fd_(fd), form_(form) {}
TReportedRun::~TReportedRun() {}
void TReportedRun::State(const std::string&) {}
void TReportedRun::Family() {}
void TReportedRun::Finish(const std::string&, const std::string&) {}
bool TReportedRun::WaitForArrival(int) { return false; }
bool TReportedRun::WaitForRemoval(int) { return false; }
}
