#pragma once
// What a station's results file says already, read once when the station
// starts and kept up to date as it appends: the attempts it holds (by ID) and
// the devices that passed with the station's firmware (by their own ID).
#include <set>
#include <string>

namespace tolm::cli {

class TResultsHistory {
public:
    // Reads the file at path; a file that does not exist yet, or holds only
    // its header, says nothing. False, with why, when it cannot be read.
    bool Read(const std::string& path, const std::string& firmwareSha256, std::string& why);

    bool HasAttempt(const std::string& attemptId) const { return attempts_.count(attemptId) > 0; }
    // A device with this ID has a PASS line of this firmware.
    bool Passed(const std::string& deviceId) const { return !deviceId.empty() && passed_.count(deviceId) > 0; }
    void AddPass(const std::string& deviceId) {
        if (!deviceId.empty()) passed_.insert(deviceId);
    }

private:
    std::set<std::string> attempts_, passed_;
};

}  // namespace tolm::cli
