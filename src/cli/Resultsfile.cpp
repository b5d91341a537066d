#include "cli/Resultsfile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <ctime>
#include <vector>

namespace tolm::cli {

namespace {
std::string LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    char buf[40];
    std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S%z", &tm);
    return buf;
}

// A scanner and its docking station upgraded together: both are named.
std::string Both(const std::string& device, const std::string& dock) {
    return dock.empty() ? device : device + " + " + dock;
}

// The text from offset 0 up to the first line break (at most limit bytes).
std::string FirstLine(int fd, size_t limit) {
    std::string text(limit, '\0');
    const ssize_t n = pread(fd, text.data(), limit, 0);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    const size_t nl = text.find('\n');
    return nl == std::string::npos ? text : text.substr(0, nl);
}

// Holds an exclusive lock on the file for a scope: a second station on the
// same file waits for a line to be written whole before it writes its own.
class TFileLock {
public:
    explicit TFileLock(int fd) : fd_(fd) {
        while (flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~TFileLock() { flock(fd_, LOCK_UN); }

private:
    int fd_;
};
}  // namespace

TResultsFile::TResultsFile(const std::string& path, const std::string& firmwareSha256,
                           const std::string& programVersion)
    : path_(path), sha256_(firmwareSha256), version_(programVersion) {
    // As the diagnostic log: never through a link at its name, and a FIFO
    // fails at once instead of hanging the station.
    fd_ = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0) {
        const int error = errno;
        error_ = "cannot open " + path + ": " +
                 (error == ELOOP ? std::string("it is a symbolic link") : std::string(std::strerror(error)));
        return;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = path + " is not a regular file";
        close(fd_);
        fd_ = -1;
        return;
    }
    fcntl(fd_, F_SETFL, fcntl(fd_, F_GETFL) & ~O_NONBLOCK);
    TFileLock lock(fd_);
    if (fstat(fd_, &st) == 0 && st.st_size == 0) {
        if (!WriteLine(kHeader)) {
            error_ = "cannot write " + path + ": " + error_;
            close(fd_);
            fd_ = -1;
        }
        return;
    }
    const std::string first = FirstLine(fd_, std::strlen(kHeader) + 2);
    if (first == kShortHeader) {
        longColumns_ = false;
    } else if (first != kHeader) {
        error_ = path + " is not a results file: its first line is not the header \"" + std::string(kHeader) + "\"";
        close(fd_);
        fd_ = -1;
    }
}

TResultsFile::~TResultsFile() {
    if (fd_ >= 0) close(fd_);
}

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
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", row.Seconds);
    const auto& id = row.Identity;
    const auto& dock = row.Dock;
    std::vector<std::string> fields{LocalTime(),
                                    row.Label,
                                    row.Family,
                                    Both(id.ModelCode, dock.ModelCode),
                                    Both(KernelField(id.KernelDigits), KernelField(dock.KernelDigits)),
                                    Both(id.TerminalID, dock.TerminalID),
                                    Both(id.TerminalName, dock.TerminalName),
                                    row.Outcome(),
                                    seconds};
    if (longColumns_) fields.insert(fields.end(), {sha256_, version_});
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
    return WriteLine(line);
}

bool TResultsFile::WriteLine(const std::string& line) {
    struct stat st {};
    if (fstat(fd_, &st) != 0) {
        error_ = std::strerror(errno);
        return false;
    }
    const off_t start = st.st_size;
    std::string text = line + "\n";
    // A line cut short by a crash of an older writer is ended first, so that
    // this one is not glued to it.
    char last = '\n';
    if (start > 0 && pread(fd_, &last, 1, start - 1) == 1 && last != '\n') text.insert(0, "\n");
    ssize_t n;
    do {
        n = write(fd_, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(text.size()) && fsync(fd_) == 0) return true;
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

}  // namespace tolm::cli
