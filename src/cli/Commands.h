#pragma once
// The sub-commands of tolm-upgrade-cli. Each Add... function defines its
// command's options on the CLI11 parser; when the command line names it,
// run is set to the work it does, which returns the process exit code.
#include <functional>

namespace CLI {
class App;
}

namespace tolm::cli {

using CommandRun = std::function<int()>;

void AddUpgradeCommand(CLI::App& app, CommandRun& run);
void AddIdentifyCommand(CLI::App& app, CommandRun& run);
void AddSplitCommand(CLI::App& app, CommandRun& run);
void AddPortsCommand(CLI::App& app, CommandRun& run);
void AddQuorinCommand(CLI::App& app, CommandRun& run);
void AddKvCommand(CLI::App& app, CommandRun& run);
void AddStationCommand(CLI::App& app, CommandRun& run);
void AddRecordsCommand(CLI::App& app, CommandRun& run);
// Hidden: what the build writes into the manual page and the bash completion.
void AddReferenceCommand(CLI::App& app, CommandRun& run);

}  // namespace tolm::cli
