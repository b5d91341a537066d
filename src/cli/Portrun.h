#pragma once
// The parent side of one port's run: a child tolm-upgrade-cli on that port,
// started with --progress-fd, its report records read into a row that a
// board shows and a results writer reads.
#include <sys/types.h>

#include <functional>
#include <string>
#include <vector>

#include "cli/Devicetap.h"

namespace tolm::cli {

using ArgList = std::vector<std::string>;

// What is known of one port's current run.
struct TPortRow {
    std::string Port;        // as given ("3", "COM3", "/dev/ttyUSB0")
    std::string Label;       // "COM3", or the device path
    std::string DevicePath;  // the device the port reaches
    std::string State = "starting";  // waiting, upgrading, removal, done
    std::string Family;              // the file's family code ("2LB", "3QR", ...)
    TDeviceIdentity Identity;
    int Position = 0, Min = 0, Max = 0;
    long long Bytes = 0;
    double BytesPerSecond = 0;
    bool HasResult = false;
    std::string Result, Note;
    double Seconds = 0;
    int ExitCode = -1;  // of the child, once it has ended
    bool Passed() const;
    // The result line's text: the result, else the note, else what went wrong.
    std::string Outcome() const;
};

class TPortRun {
public:
    using TLineHandler = std::function<void(TPortRun&, const std::string& line)>;
    explicit TPortRun(const std::string& port);
    ~TPortRun();  // a child still running is stopped and waited for
    TPortRun(const TPortRun&) = delete;
    TPortRun& operator=(const TPortRun&) = delete;

    // Starts "tolm-upgrade-cli upgrade --port P --progress-fd 3 ARGS..." from
    // this program's own file. False (with Note set) when it could not start.
    bool Start(const ArgList& args);
    bool Running() const { return pid_ > 0; }
    // Descriptors to poll while running.
    std::vector<int> Descriptors() const;
    // Reads what fd has: each record updates Row and is followed by a call of
    // onChange, lines on the child's stderr go to onMessage. Reaps the child
    // (and calls onChange) once both pipes are closed.
    void Readable(int fd, const TLineHandler& onMessage, const std::function<void()>& onChange);
    // SIGTERM to the child: a waiting run ends at once, a transfer after its
    // current exchange.
    void Stop();

    TPortRow Row;
    // Called for each record as it comes (key, value), after Row took it.
    std::function<void(TPortRun&, const std::string& key)> OnRecord;

private:
    void Record(const std::string& line);
    void Reap();
    pid_t pid_ = -1;
    int reportFd_ = -1, errFd_ = -1;
    std::string reportPending_, errPending_;
    double rateBytes_ = 0;
    double rateTime_ = 0;
};

}  // namespace tolm::cli
