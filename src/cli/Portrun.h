#pragma once
// The parent side of one port's run: a child tolm-upgrade-cli on that port,
// started with --progress-fd, its report records read into a row that a
// board shows and a results writer reads.
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/Upgradeoutcome.h"
#include "cli/Childprocess.h"
#include "cli/Devicetap.h"

namespace tolm::cli {

using ArgList = std::vector<std::string>;

// What is known of one port's current run.
struct TPortRow {
    std::string Port;        // as given ("3", "COM3", "/dev/ttyUSB0")
    std::string Label;       // "COM3", or the device path
    std::string DevicePath;  // the device the port reaches
    std::string State = "starting";  // waiting, upgrading, removal, done, ended
    std::string Family;              // the file's family code ("2LB", "3QR", ...)
    TDeviceIdentity Identity;        // the device (of a scanner-and-dock file: the scanner)
    TDeviceIdentity Dock;            // the docking station of a scanner-and-dock file
    int Position = 0, Min = 0, Max = 0;
    long long Bytes = 0;
    double BytesPerSecond = 0;
    bool HasResult = false;
    std::string Result, Note;
    double Seconds = 0;       // negative: not known
    bool Attempted = false;   // the upgrade sent something to the device
    // Given by a station when it lets the attempt begin; a line made
    // without them gets a new ID and is timed back from its end.
    std::string AttemptId;
    std::chrono::system_clock::time_point StartedAt{};
    std::string FirmwareSha256;  // of a line for an earlier station's firmware; empty: the file's
    std::string Condition;    // why the port cannot be opened now; empty when it can
    int SilenceLeft = -1;     // seconds of silence left before the device counts as gone; -1: not counting
    std::string LastOutcome;  // of the previous attempt on this port; kept from run to run
    bool Ended = false;       // the child has ended and was reaped
    TChildExit Exit;
    int ExitCode = -1;  // of the child once it has ended: its status, or 128 + the signal
    std::string KilledBecause;  // why the parent ended the child (a stall); empty when it did not
    // "Upgrade PASS" (or "Font Upgrade PASS") reported by a child that then
    // exited cleanly; nothing else counts as a pass.
    bool Passed() const;
    // The result line's text: the reported result where the child's end bears
    // it out, else the note, else what went wrong with the child.
    std::string Outcome() const;
};

class TPortRun {
public:
    using TLineHandler = std::function<void(TPortRun&, const std::string& line)>;
    explicit TPortRun(const std::string& port);
    TPortRun(const TPortRun&) = delete;
    TPortRun& operator=(const TPortRun&) = delete;

    // Starts "tolm-upgrade-cli upgrade --port P --progress-fd 3 ARGS..." from
    // this program's own file. False (with Note set) when it could not start.
    bool Start(const ArgList& args);
    bool Running() const { return child_.Running(); }
    // Descriptors to poll while running.
    std::vector<int> Descriptors() const;
    // Reads what fd has: each record updates Row and is followed by a call of
    // onChange, lines on the child's stderr go to onMessage (a last line
    // without its line break too). Once both pipes are closed, reaps the
    // child, calls OnEnd, then onChange.
    void Readable(int fd, const TLineHandler& onMessage, const std::function<void()>& onChange);
    // SIGTERM to the child: a waiting run ends at once, a transfer after its
    // current exchange.
    void Stop();
    // Ends the child at once, whatever it does (TChildProcess::Kill).
    void Kill() { child_.Kill(); }
    // A line on the child's control pipe (Reportedrun.h).
    void Tell(const std::string& line) { child_.Tell(line); }

    TPortRow Row;
    // Called for each record as it comes (key, value), after Row took it.
    std::function<void(TPortRun&, const std::string& key)> OnRecord;
    // Called once the child has ended and Row holds how.
    std::function<void(TPortRun&)> OnEnd;

private:
    void Record(const std::string& line);
    void Reap();
    TChildProcess child_;
    std::string reportPending_, errPending_;
    double rateBytes_ = 0;
    double rateTime_ = 0;
    double attemptStart_ = 0;        // when the child said it sent its first byte
    bool secondsReported_ = false;   // the child told the run's time
};

}  // namespace tolm::cli
