#pragma once
// The child side of a multi-port or station run: one upgrade in a process of
// its own that reports to its parent on a pipe, one "key<TAB>value" line per
// record:
//   state     waiting | upgrading | removal
//   family    the file's family code
//   progress  position min max bytes-sent
//   model, kernel, tid, name   what the device told about itself
//   result    the result line;  note  why there is none
//   seconds, bytes, end
// SIGTERM asks the run to stop: a waiting run ends at once, a transfer after
// its current exchange (the devices refuse further sends). SIGINT is left to
// the parent, which decides what a Ctrl-C stops.
#include <chrono>
#include <memory>
#include <string>

#include "cli/Devicetap.h"

namespace tolm {
class TForm1;
}

namespace tolm::cli {

// The note of a run whose file the check refused: every port would refuse it.
inline constexpr const char* kFileRefusedNote = "file refused";

class TReportedRun {
public:
    // Reports on descriptor fd; taps every port the form opens from now on.
    TReportedRun(int fd, TForm1& form);
    ~TReportedRun();
    TReportedRun(const TReportedRun&) = delete;
    TReportedRun& operator=(const TReportedRun&) = delete;

    void State(const std::string& state);
    // Tells the file's family once the file check has passed.
    void Family();
    // The closing records: identity, bytes, seconds, result (or note), end.
    void Finish(const std::string& result, const std::string& note);

    // Station mode. Waits until a device is on the port: its node exists and
    // it answers the family's first request (a Quorin terminal's announcement
    // is awaited by the upgrade itself). False when a stop was asked.
    bool WaitForArrival(int port);
    // Waits until the device has gone: its node is gone, or it has not
    // answered for a few seconds. False when a stop was asked.
    bool WaitForRemoval(int port);

private:
    void Send(const std::string& key, const std::string& value);
    void SendIdentity();
    void Progress();
    // True when a device answers the family's first request now.
    bool Answers(int port);
    int fd_;
    TForm1& form_;
    std::shared_ptr<TDeviceRecord> record_ = std::make_shared<TDeviceRecord>();
    TDeviceIdentity sentIdentity_;
    bool upgrading_ = false;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastProgress_;
};

}  // namespace tolm::cli
