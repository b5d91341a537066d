#pragma once
#include "cli/Commands.h"

namespace tolm::cli {

// tolm-upgrade-cli station --port P... [--results FILE.csv] FILE: on every
// port, again and again until interrupted: wait for a device, upgrade it,
// record the result, wait until it has gone. Each port's cycle runs in a
// child process of its own (Reportedrun.h). The first Ctrl-C stops the
// waiting ports at once and lets running transfers finish; a second one stops
// those after their current exchange.
int StationCommand(const ArgList& args);

}  // namespace tolm::cli
