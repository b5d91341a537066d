#pragma once
// What a production lead asks of the records: how many attempts, passes and
// failures there were by day, station, model code or firmware, and which
// devices failed their last attempt. The same for one bench's results file
// and for the site database.
#include <string>
#include <vector>

#include "records/Attempt.h"

namespace tolm::records {

enum class TReportBy {
    Day,       // the bench's own date of the attempt (of its local time)
    Station,
    Model,     // model code
    Firmware,  // the firmware file's SHA-256
};

struct TReportGroup {
    std::string Key;  // empty: not recorded
    long Attempts = 0;
    long Passed = 0;
    long Failed = 0;
};

// The attempts counted in groups, in the order of their keys.
std::vector<TReportGroup> GroupAttempts(const std::vector<TAttempt>& attempts, TReportBy by);

// Each device (by model code and its own ID, or its terminal ID where it has
// no other) whose latest attempt did not pass, with that attempt; the most
// recent first. Attempts are ordered by their end in UTC, those with equal
// ends in the order given. Attempts that name no device are not counted.
std::vector<TAttempt> FailingDevices(const std::vector<TAttempt>& attempts);

}  // namespace tolm::records
