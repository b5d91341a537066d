#pragma once
// The ports of a multi-port command: every --port option, each of which may
// hold a list such as "3,4,7-10" or "COM3,/dev/ttyUSB0".
#include <string>
#include <vector>

namespace tolm::cli {

// Expands the port texts into single ports, in the order given: items split at
// commas, "7-10" (or "COM7-COM10") into its numbers. A device path is kept as
// it is. UsageError for an empty item, a backward or oversized range, or a
// port listed twice, also under two names of one device (3 and the path COM3
// links to): two runs on one line would garble each other.
std::vector<std::string> ExpandPortList(const std::vector<std::string>& texts);

}  // namespace tolm::cli
