#include "cli/Portrun.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "cli/Cliargs.h"
#include "cli/Portarg.h"
#include "platform/Portmap.h"

namespace tolm::cli {

namespace {
constexpr int kChildReportFd = 3;

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

bool TPortRow::Passed() const {
    return ExitCode == 0 && HasResult && (Result == "Upgrade PASS" || Result == "Font Upgrade PASS");
}

std::string TPortRow::Outcome() const {
    if (HasResult && !Result.empty()) return Result;
    if (!Note.empty()) return Note;
    return ExitCode == kExitStopped ? "stopped" : "no result";
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

TPortRun::~TPortRun() {
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        int status;
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (reportFd_ >= 0) close(reportFd_);
    if (errFd_ >= 0) close(errFd_);
}

bool TPortRun::Start(const ArgList& args) {
    int report[2], err[2];
    if (pipe2(report, O_CLOEXEC) != 0) {
        Row.Note = "cannot start a run: no pipe";
        return false;
    }
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(report[0]);
        close(report[1]);
        Row.Note = "cannot start a run: no pipe";
        return false;
    }
    std::vector<std::string> argvText{"tolm-upgrade-cli", "upgrade", "--port", Row.Port, "--progress-fd",
                                      std::to_string(kChildReportFd)};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);

    const pid_t pid = fork();
    if (pid == 0) {
        // Only async-signal-safe calls from here to exec. A Ctrl-C on the
        // terminal reaches the whole process group: the parent decides what
        // it stops, so the child ignores it from the start.
        signal(SIGINT, SIG_IGN);
        if (report[1] == kChildReportFd) fcntl(kChildReportFd, F_SETFD, 0);  // dup2 would keep close-on-exec
        else dup2(report[1], kChildReportFd);
        dup2(err[1], STDERR_FILENO);
        int devnull = open("/dev/null", O_WRONLY);
        if (devnull >= 0) dup2(devnull, STDOUT_FILENO);
        execv("/proc/self/exe", argv.data());
        _exit(127);
    }
    close(report[1]);
    close(err[1]);
    if (pid < 0) {
        close(report[0]);
        close(err[0]);
        Row.Note = "cannot start a run: fork failed";
        return false;
    }
    pid_ = pid;
    reportFd_ = report[0];
    errFd_ = err[0];
    TPortRow fresh;
    fresh.Port = Row.Port;
    fresh.Label = Row.Label;
    fresh.DevicePath = Row.DevicePath;
    Row = fresh;
    rateBytes_ = 0;
    rateTime_ = Now();
    return true;
}

std::vector<int> TPortRun::Descriptors() const {
    std::vector<int> fds;
    if (reportFd_ >= 0) fds.push_back(reportFd_);
    if (errFd_ >= 0) fds.push_back(errFd_);
    return fds;
}

void TPortRun::Readable(int fd, const TLineHandler& onMessage, const std::function<void()>& onChange) {
    char buf[4096];
    ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) return;
    if (fd == reportFd_) {
        if (n <= 0) {
            close(reportFd_);
            reportFd_ = -1;
        } else {
            TakeLines(reportPending_, buf, static_cast<size_t>(n), [&](const std::string& line) {
                Record(line);
                onChange();
            });
        }
    } else if (fd == errFd_) {
        if (n <= 0) {
            close(errFd_);
            errFd_ = -1;
        } else {
            TakeLines(errPending_, buf, static_cast<size_t>(n),
                      [&](const std::string& line) { onMessage(*this, line); });
        }
    }
    if (reportFd_ < 0 && errFd_ < 0 && pid_ > 0) {
        Reap();
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
    } else if (key == "bytes") {
        Row.Bytes = std::atoll(value.c_str());
    } else if (key == "seconds") {
        Row.Seconds = std::atof(value.c_str());
    } else if (key == "note") {
        Row.Note = value;
    } else if (key == "result") {
        Row.Result = value;
        Row.HasResult = true;
        // The bar shows the last acknowledged block and is reset at the end;
        // a passed transfer is complete.
        if (value == "Upgrade PASS" || value == "Font Upgrade PASS") Row.Position = Row.Max;
    } else if (key == "end") {
        Row.State = "done";
    }
    if (OnRecord) OnRecord(*this, key);
}

void TPortRun::Reap() {
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    pid_ = -1;
    Row.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    if (Row.State != "done" && Row.State != "removal") Row.State = "ended";
}

void TPortRun::Stop() {
    if (pid_ > 0) kill(pid_, SIGTERM);
}

}  // namespace tolm::cli
