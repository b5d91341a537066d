#include "cli/Portrun.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "cli/Cliargs.h"
#include "cli/Portarg.h"
#include "platform/Portmap.h"

namespace tolm::cli {

namespace {
double Now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

// The device a port-map entry links to, as the operator linked it (a stable
// by-id name stays one); the path itself when it is no link.
std::string LinkTarget(const std::string& path) {
    std::error_code ec;
    if (!std::filesystem::is_symlink(path, ec)) return path;
    std::filesystem::path target = std::filesystem::read_symlink(path, ec);
    if (ec) return path;
    return target.is_absolute() ? target.string() : (std::filesystem::path(path).parent_path() / target).string();
}

bool IsNumberPort(const std::string& port) { return port.find('/') == std::string::npos; }

// Splits complete lines off pending; each goes to handle.
template <typename F>
void TakeLines(std::string& pending, const char* data, size_t n, F handle) {
    pending.append(data, n);
    size_t nl;
    while ((nl = pending.find('\n')) != std::string::npos) {
        std::string line = pending.substr(0, nl);
        pending.erase(0, nl + 1);
        handle(line);
    }
}
}  // namespace

bool TPortRow::Passed() const { return Ended && Exit.Clean() && HasResult && IsPassResult(Result); }

std::string TPortRow::Outcome() const {
    const bool reported = HasResult && !Result.empty();
    // A failure the child reported stands however it ended; a pass only when
    // its process then ended cleanly.
    if (reported && (!Ended || !IsPassResult(Result) || Exit.Clean())) return Result;
    if (!Ended) return Note;
    if (!KilledBecause.empty()) return KilledBecause;
    if (!Exit.Waited) return "Upgrade Error (the upgrade process could not be waited for: " + Exit.Error + ")";
    if (Exit.Signalled) return "Upgrade Error (the upgrade process ended by signal " + std::to_string(Exit.Signal) + ")";
    if (reported)
        return "Upgrade Error (the upgrade process exited with status " + std::to_string(Exit.Code) +
               " after reporting a pass)";
    if (!Note.empty()) return Note;
    if (Exit.Code == kExitStopped) return Attempted ? "Upgrade stopped" : "stopped";
    return "Upgrade Error (the upgrade process exited with status " + std::to_string(Exit.Code) +
           " without a result)";
}

TPortRun::TPortRun(const std::string& port) {
    Row.Port = port;
    if (IsNumberPort(port)) {
        const int n = PortArg(port).Number();
        Row.Label = "COM" + std::to_string(n);
        Row.DevicePath = LinkTarget(PortMap::DevicePath(n));
    } else {
        Row.Label = port;
        Row.DevicePath = port;
    }
}

bool TPortRun::Start(const ArgList& args) {
    ArgList argv{"tolm-upgrade-cli", "upgrade", "--port", Row.Port, "--progress-fd",
                 std::to_string(TChildProcess::kReportFd)};
    argv.insert(argv.end(), args.begin(), args.end());
    std::string error;
    if (!child_.Start(argv, error)) {
        Row.Note = error;
        return false;
    }
    TPortRow fresh;
    fresh.Port = Row.Port;
    fresh.Label = Row.Label;
    fresh.DevicePath = Row.DevicePath;
    fresh.LastOutcome = Row.LastOutcome;
    fresh.Condition = Row.Condition;
    Row = fresh;
    reportPending_.clear();
    errPending_.clear();
    rateBytes_ = 0;
    rateTime_ = Now();
    attemptStart_ = 0;
    secondsReported_ = false;
    return true;
}

std::vector<int> TPortRun::Descriptors() const {
    std::vector<int> fds;
    if (child_.ReportFd() >= 0) fds.push_back(child_.ReportFd());
    if (child_.ErrorFd() >= 0) fds.push_back(child_.ErrorFd());
    return fds;
}

void TPortRun::Readable(int fd, const TLineHandler& onMessage, const std::function<void()>& onChange) {
    char buf[4096];
    const bool report = fd == child_.ReportFd();
    const ssize_t n = child_.Read(fd, buf, sizeof buf);
    if (n > 0 && report) {
        TakeLines(reportPending_, buf, static_cast<size_t>(n), [&](const std::string& line) {
            Record(line);
            onChange();
        });
    } else if (n > 0) {
        TakeLines(errPending_, buf, static_cast<size_t>(n), [&](const std::string& line) { onMessage(*this, line); });
    } else if (n == 0 && !report && !errPending_.empty()) {
        // The child's last words may lack their line break.
        onMessage(*this, errPending_);
        errPending_.clear();
    }
    if (child_.ReportFd() < 0 && child_.ErrorFd() < 0 && child_.Running()) {
        Reap();
        if (OnEnd) OnEnd(*this);
        onChange();
    }
}

void TPortRun::Record(const std::string& line) {
    const size_t tab = line.find('\t');
    const std::string key = line.substr(0, tab);
    const std::string value = tab == std::string::npos ? "" : line.substr(tab + 1);
    if (key == "state") {
        Row.State = value;
    } else if (key == "progress") {
        long long bytes = 0;
        if (std::sscanf(value.c_str(), "%d %d %d %lld", &Row.Position, &Row.Min, &Row.Max, &bytes) == 4) {
            const double now = Now();
            if (now - rateTime_ >= 0.5) {
                Row.BytesPerSecond = (bytes - rateBytes_) / (now - rateTime_);
                rateBytes_ = static_cast<double>(bytes);
                rateTime_ = now;
            }
            Row.Bytes = bytes;
        }
    } else if (key == "family") {
        Row.Family = value;
    } else if (key == "model") {
        Row.Identity.ModelCode = value;
    } else if (key == "kernel") {
        Row.Identity.KernelDigits = value;
    } else if (key == "tid") {
        Row.Identity.TerminalID = value;
    } else if (key == "name") {
        Row.Identity.TerminalName = value;
    } else if (key == "dock-model") {
        Row.Dock.ModelCode = value;
    } else if (key == "dock-kernel") {
        Row.Dock.KernelDigits = value;
    } else if (key == "dock-tid") {
        Row.Dock.TerminalID = value;
    } else if (key == "dock-name") {
        Row.Dock.TerminalName = value;
    } else if (key == "attempt") {
        if (!Row.Attempted) attemptStart_ = Now();
        Row.Attempted = true;
    } else if (key == "port") {
        Row.Condition = value;
    } else if (key == "silence") {
        Row.SilenceLeft = value.empty() ? -1 : std::atoi(value.c_str());
    } else if (key == "bytes") {
        Row.Bytes = std::atoll(value.c_str());
    } else if (key == "seconds") {
        Row.Seconds = std::atof(value.c_str());
        secondsReported_ = true;
    } else if (key == "note") {
        Row.Note = value;
    } else if (key == "result") {
        Row.Result = value;
        Row.HasResult = true;
        // The bar shows the last acknowledged block and is reset at the end;
        // a passed transfer is complete.
        if (IsPassResult(value)) Row.Position = Row.Max;
    } else if (key == "end") {
        Row.State = "done";
    }
    if (OnRecord) OnRecord(*this, key);
}

void TPortRun::Reap() {
    Row.Exit = child_.Wait();
    Row.Ended = true;
    Row.ExitCode = !Row.Exit.Waited ? -1 : Row.Exit.Signalled ? 128 + Row.Exit.Signal : Row.Exit.Code;
    if (Row.State != "done" && Row.State != "removal") Row.State = "ended";
    // A run that ended without telling its time (killed, crashed) is timed
    // from its first byte by this side's clock.
    if (Row.Attempted && !secondsReported_) Row.Seconds = Now() - attemptStart_;
}

void TPortRun::Stop() { child_.Stop(); }

}  // namespace tolm::cli
