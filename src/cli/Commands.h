#pragma once
// The sub-commands of tolm-upgrade-cli. Each takes its own arguments (after
// the command word) and returns the process exit code.
#include <string>
#include <vector>

namespace tolm::cli {

using ArgList = std::vector<std::string>;

int UpgradeCommand(const ArgList& args);
int IdentifyCommand(const ArgList& args);
int SplitCommand(const ArgList& args);
int PortsCommand(const ArgList& args);
int QuorinCommand(const ArgList& args);
int KvCommand(const ArgList& args);
int StationCommand(const ArgList& args);

}  // namespace tolm::cli
