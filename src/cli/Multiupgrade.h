#pragma once
#include <string>
#include <vector>

#include "cli/Commands.h"

namespace tolm::cli {

// tolm-upgrade-cli upgrade with several ports (or --json): every port runs the
// file's whole upgrade at the same time in a child process of its own, so
// that a failing, vanishing or silent port neither stops nor slows the others.
// args holds the command's arguments without its --port options.
int MultiUpgradeCommand(const std::vector<std::string>& ports, const ArgList& args);

}  // namespace tolm::cli
