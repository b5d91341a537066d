#pragma once
#include <string>
#include <vector>

namespace tolm::cli {

// tolm-upgrade-cli station --port P... [--results FILE.csv] FILE (defined by
// AddStationCommand in Commands.h): on every
// port, again and again until interrupted: wait for a device, upgrade it,
// record the result, wait until it has gone. Each port's cycle runs in a
// child process of its own (Reportedrun.h). The first Ctrl-C stops the
// waiting ports at once and lets running transfers finish; a second one stops
// those after their current exchange.
struct TStationOptions {
    std::vector<std::string> ports;  // as given: each may be a list
    std::string file;
    std::string results = "station-results.csv";
    std::string log;
};
int Station(const TStationOptions& options);

}  // namespace tolm::cli
