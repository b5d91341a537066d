#pragma once
#include <string>
#include <vector>

#include "cli/Sitedatabase.h"

namespace tolm::cli {

// tolm-upgrade-cli station --port P... [--results FILE.csv] FILE (defined by
// AddStationCommand in Commands.h): on every port, again and again until
// interrupted: wait for a device, upgrade it, record the attempt, wait until
// the device has gone (Removal.h). Each port's run is a child process of its
// own (Reportedrun.h); the station watches every port's node itself, without
// a gap, and tells the runs when one changed. The first Ctrl-C stops the
// waiting ports at once and lets running transfers finish; a second one stops
// those after their current exchange. When a line cannot be written, no new
// device is taken, running upgrades finish, the lines not written go to
// stderr, and the station exits with status 4.
struct TStationOptions {
    std::vector<std::string> ports;  // as given: each may be a list
    std::string file;
    std::string results = "station-results.csv";
    std::string log;
    long removalSilence = 10;  // seconds; where silence counts at all
    bool again = false;        // upgrade devices whose ID has a PASS line of this firmware too
    std::string station;       // the name in each line; default the host name
    std::string operatorId;    // who works at the bench; may be empty
    TDatabaseOptions db;       // the site database the lines are sent to, if any
};
int Station(const TStationOptions& options);

}  // namespace tolm::cli
