#pragma once
#include <string>
#include <vector>

#include "cli/Sitedatabase.h"

namespace tolm::cli {

struct TMultiUpgradeOptions {
    std::vector<std::string> ports;  // single ports (ExpandPortList)
    std::string file;
    std::string log;
    long waitSeconds = 60;
    bool json = false;
    std::string results;     // the CSV file each attempt is appended to; empty: none
    std::string station;     // the station named in its lines (default the host name)
    std::string operatorId;  // the operator named in its lines
    TDatabaseOptions db;     // the site database the new lines go to
};

// tolm-upgrade-cli upgrade with several ports (or --json): every port runs the
// file's whole upgrade at the same time in a child process of its own, so
// that a failing, vanishing or silent port neither stops nor slows the others.
int MultiUpgrade(const TMultiUpgradeOptions& options);

}  // namespace tolm::cli
