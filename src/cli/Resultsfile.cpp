#include "cli/Resultsfile.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <vector>

#include "cli/Clisystem.h"
#include "cli/Consoletext.h"
#include "records/Uuid.h"
#include "toolkit/Files.h"

namespace tolm::cli {

namespace {
// The local time with its offset from UTC, "2026-12-08T21:30:00+0100"
// (written out here: the offset of strftime's %z is a zone name on Windows).
std::string LocalTime(std::time_t now) {
    std::tm local{}, utc{};
    LocalAndUtcTime(now, local, utc);
    const long days = local.tm_year != utc.tm_year ? (local.tm_year > utc.tm_year ? 1 : -1)
                                                    : local.tm_yday - utc.tm_yday;
    const long minutes = days * 1440 + (local.tm_hour - utc.tm_hour) * 60L + (local.tm_min - utc.tm_min);
    char time[32], offset[16];
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%S", &local);
    std::snprintf(offset, sizeof offset, "%c%02ld%02ld", minutes < 0 ? '-' : '+', std::labs(minutes) / 60,
                  std::labs(minutes) % 60);
    return std::string(time) + offset;
}

// A scanner and its docking station upgraded together: both are named.
std::string Both(const std::string& device, const std::string& dock) {
    return dock.empty() ? device : device + " + " + dock;
}

// The text from offset 0 up to the first line break (at most limit bytes).
std::string FirstLine(int fd, size_t limit) {
    std::string text(limit, '\0');
    const long long n = ReadFileAt(fd, 0, text.data(), static_cast<long long>(limit));
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    const size_t nl = text.find('\n');
    return nl == std::string::npos ? text : text.substr(0, nl);
}

// Holds an exclusive lock on the file for a scope: a second station on the
// same file waits for a line to be written whole before it writes its own.
class TFileLock {
public:
    explicit TFileLock(int fd) : fd_(fd) { LockWholeFile(fd_); }
    ~TFileLock() { UnlockWholeFile(fd_); }

private:
    int fd_;
};
}  // namespace

TResultsFile::TResultsFile(const std::string& path, const std::string& firmwareSha256,
                           const std::string& programVersion, const TRecordingBench& bench)
    : bench_(bench), path_(path), sha256_(firmwareSha256), version_(programVersion) {
    // As the diagnostic log: never through a link at its name, and a FIFO
    // fails at once instead of hanging the station.
    fd_ = OpenSharedAppendFile(path);
    if (fd_ < 0) {
        const int error = errno;
        if (error == EINVAL)
            error_ = path + " is not a regular file";
        else
            error_ = "cannot open " + path + ": " +
                     (error == ELOOP ? std::string("it is a symbolic link") : std::string(std::strerror(error)));
        return;
    }
    TFileLock lock(fd_);
    if (OpenFileSize(fd_) == 0) {
        if (!WriteLine(records::kResultsHeader)) {
            error_ = "cannot write " + path + ": " + error_;
            CloseFile(fd_);
            fd_ = -1;
        }
        return;
    }
    const auto layout = records::LayoutOfHeader(FirstLine(fd_, std::strlen(records::kResultsHeader) + 2));
    if (layout) {
        layout_ = *layout;
    } else {
        error_ = path + " is not a results file: its first line is not the header \"" +
                 std::string(records::kResultsHeader) + "\"";
        CloseFile(fd_);
        fd_ = -1;
    }
}

TResultsFile::~TResultsFile() { CloseFile(fd_); }

std::string TResultsFile::Field(const std::string& text) {
    std::string field = text;
    if (!field.empty() && std::strchr("=+-@", field[0])) field.insert(0, "'");
    if (field.find_first_of(",\"\r\n") == std::string::npos) return field;
    std::string quoted = "\"";
    for (char c : field) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

std::string TResultsFile::KernelField(const std::string& digits) {
    std::string text = digits;
    std::replace(text.begin(), text.end(), '/', '_');
    return text;
}

std::string TResultsFile::Line(const TPortRow& row) const {
    using records::TResultsLayout;
    const auto ended = std::chrono::system_clock::now();
    const auto started = row.StartedAt != std::chrono::system_clock::time_point{}
                             ? row.StartedAt
                             : ended - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                           std::chrono::duration<double>(std::max(row.Seconds, 0.0)));
    // An attempt closed by a later station: how long it ran, and when it
    // ended, are not known.
    const bool timeKnown = row.Seconds >= 0;
    char seconds[32] = "";
    if (timeKnown) std::snprintf(seconds, sizeof seconds, "%.1f", row.Seconds);
    const auto& id = row.Identity;
    const auto& dock = row.Dock;
    std::vector<std::string> fields{LocalTime(std::chrono::system_clock::to_time_t(ended)),
                                    row.Label,
                                    row.Family,
                                    Both(id.ModelCode, dock.ModelCode),
                                    Both(KernelField(id.KernelDigits), KernelField(dock.KernelDigits)),
                                    Both(id.TerminalID, dock.TerminalID),
                                    Both(id.TerminalName, dock.TerminalName),
                                    row.Outcome(),
                                    seconds};
    if (layout_ != TResultsLayout::Short)
        fields.insert(fields.end(), {row.FirmwareSha256.empty() ? sha256_ : row.FirmwareSha256, version_});
    // The device's own ID is its terminal ID where its family has one (of a
    // scanner and its dock: the scanner's).
    if (layout_ == TResultsLayout::Full)
        fields.insert(fields.end(), {row.AttemptId.empty() ? records::NewAttemptId() : row.AttemptId,
                                     bench_.Station, bench_.Operator, records::UtcText(started),
                                     timeKnown ? records::UtcText(ended) : std::string(), id.TerminalID});
    std::string line;
    for (const auto& field : fields) {
        if (!line.empty()) line += ',';
        line += Field(field);
    }
    return line;
}

bool TResultsFile::Append(const std::string& line) {
    if (fd_ < 0) return false;
    TFileLock lock(fd_);
    // A file deleted, moved away or replaced takes what is written to it out
    // of sight: that counts as a failed write, before the line and after it.
    if (!StillFileAtPath(fd_, path_)) {
        error_ = LostFileText();
        return false;
    }
    if (!WriteLine(line)) return false;
    if (StillFileAtPath(fd_, path_)) return true;
    error_ = LostFileText();
    return false;
}

std::string TResultsFile::LostFileText() const {
    return "the file at " + path_ + " is no longer the one this program writes (deleted, moved or replaced)";
}

bool TResultsFile::WriteLine(const std::string& line) {
    const long long start = OpenFileSize(fd_);
    if (start < 0) {
        error_ = std::strerror(errno);
        return false;
    }
    std::string text = line + "\n";
    // A line cut short by a crash of an older writer is ended first, so that
    // this one is not glued to it.
    char last = '\n';
    if (start > 0 && ReadFileAt(fd_, start - 1, &last, 1) == 1 && last != '\n') text.insert(0, "\n");
    ssize_t n;
    do {
        n = write(fd_, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(text.size()) && SyncFile(fd_)) return true;
    if (n >= 0 && n < static_cast<ssize_t>(text.size())) {
        // A short write sets no error; the rest tells why (a full disk, a size limit).
        errno = 0;
        const ssize_t more = write(fd_, text.data() + n, text.size() - static_cast<size_t>(n));
        error_ = more < 0 ? std::strerror(errno)
                          : "only " + std::to_string(n) + " of " + std::to_string(text.size()) + " bytes were written";
    } else {
        error_ = std::strerror(errno);
    }
    if (ftruncate(fd_, start) != 0) error_ += "; the file could not be cut back to its last whole line";
    return false;
}

void TellUnwrittenLines(const std::string& path, const std::string& why, const std::vector<std::string>& lines) {
    Printf(stderr, "tolm-upgrade-cli: %s could not be written (%s); these lines are not in it:\n", path.c_str(),
           why.c_str());
    for (const auto& line : lines) Printf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

}  // namespace tolm::cli
