#pragma once
// The child side of a multi-port or station run: one upgrade in a process of
// its own that reports to its parent on a pipe, one "key<TAB>value" line per
// record:
//   state     waiting | upgrading | removal
//   family    the file's family code
//   attempt   the upgrade is about to send its first byte to the device; a
//             station run then waits for the station's verdict on its stdin
//             (Childcontrol.h) and sends nothing unless told to go
//   progress  position min max bytes-sent
//   model, kernel, tid, name   what the device told about itself
//   dock-model, dock-kernel, dock-tid, dock-name   the same of a docking
//             station upgraded with its scanner
//   port      why the port cannot be opened now (empty: it opens again)
//   silence   seconds of silence left before the device counts as gone
//             (empty: it answers, or silence does not count)
//   result    the result line;  note  why there is none
//   seconds, bytes, end
// The parent asks the run to stop (SIGTERM; on Windows a line on stdin,
// Childcontrol.h): a waiting run ends at once, a transfer after its current
// exchange (the devices refuse further sends). SIGINT and SIGHUP are left to
// the parent, which decides what they stop. The parent tells the child on its
// stdin, a line at a time, when the port's node changed.
#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "cli/Childcontrol.h"
#include "cli/Devicetap.h"

namespace tolm {
class TForm1;
}

namespace tolm::cli {

// The note of a run whose file the check refused: every port would refuse it.
inline constexpr const char* kFileRefusedNote = "file refused";
// The line a parent writes on a child's stdin when the port's node changed.
inline constexpr const char* kNodeChangedLine = "node changed";

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
    // True when the stop refused a send: it cut the upgrade short.
    bool StoppedMidway() const;
    // Station mode: the first byte waits for the station's word, which
    // records the attempt before it (or refuses it: a device upgraded already,
    // a device another port serves).
    void AskBeforeFirstSend() { askParent_ = true; }
    // Why the station refused the attempt (the run's result); empty when it did not.
    const std::string& Refusal() const { return refusal_; }

    // Station mode. A device was upgraded on this port before (what it told
    // of itself); silence: how long it must be silent to count as gone, zero
    // when silence does not count.
    void AfterDevice(std::vector<TDeviceIdentity> previous, std::chrono::seconds silence);
    // Waits until a device is on the port, ready for its upgrade: first until
    // the device upgraded before has gone (Removal.h), then until one answers
    // the family's first request (for a Quorin file: until the port opens; the
    // upgrade awaits the terminal's announcement). A port that cannot be
    // opened is reported once and tried again quietly. False when a stop was asked.
    bool AwaitDevice(int port);
    // Quorin: the press has opened the port; waits until the announced
    // transfer has ended. When the line hangs up (or the port's node changes)
    // before the terminal was answered, the caller closes the port and waits
    // for the terminal again; after it was answered, the attempt ends.
    enum class TAnnounced { TransferEnded, Reopen, LineLost, Stopped };
    TAnnounced AwaitAnnouncedTransfer();

private:
    struct TProbe {
        bool Opened = false;
        int OpenError = 0;
        bool Answered = false;
        std::vector<TDeviceIdentity> Who;
    };
    void Send(const std::string& key, const std::string& value);
    void SendIdentity();
    // The first-send check (AskBeforeFirstSend); false keeps the byte back.
    bool MaySendFirstByte();
    void Progress();
    bool WaitForRemoval(int port);
    bool WaitForArrival(int port);
    // Opens the port and asks the family's first request (openOnly: just opens it).
    TProbe Probe(int port, bool openOnly);
    void ReportCondition(int port, const TProbe& probe);
    // True when the parent told that the port's node changed since the last call.
    bool TakeNodeChange();
    int fd_;
    TForm1& form_;
    std::shared_ptr<TDeviceRecord> record_ = std::make_shared<TDeviceRecord>();
    std::vector<TDeviceIdentity> sentIdentity_{2}, arrival_, previous_;
    std::chrono::seconds silence_{0};
    std::string condition_;
    int silenceShown_ = -1;
    bool upgrading_ = false;
    bool askParent_ = false;
    std::string refusal_;
    TChildControl control_;
    std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
    std::chrono::steady_clock::time_point lastProgress_;
};

}  // namespace tolm::cli
