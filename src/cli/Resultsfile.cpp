#include "cli/Resultsfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>

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
}  // namespace

TResultsFile::TResultsFile(const std::string& path) {
    fd_ = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
        error_ = "cannot open " + path + ": " + std::strerror(errno);
        return;
    }
    struct stat st {};
    if (fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
        error_ = path + " is not a regular file";
        close(fd_);
        fd_ = -1;
        return;
    }
    if (st.st_size == 0 && !WriteLine(kHeader)) {
        error_ = "cannot write " + path + ": " + std::strerror(errno);
        close(fd_);
        fd_ = -1;
    }
}

TResultsFile::~TResultsFile() {
    if (fd_ >= 0) close(fd_);
}

std::string TResultsFile::Field(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string quoted = "\"";
    for (char c : text) {
        if (c == '"') quoted += '"';
        quoted += c;
    }
    return quoted + "\"";
}

bool TResultsFile::WriteLine(const std::string& line) {
    // One write per line: O_APPEND keeps lines whole even with another writer.
    const std::string text = line + "\n";
    ssize_t n;
    do {
        n = write(fd_, text.data(), text.size());
    } while (n < 0 && errno == EINTR);
    return n == static_cast<ssize_t>(text.size()) && fsync(fd_) == 0;
}

bool TResultsFile::Append(const TPortRow& row, const std::string& family) {
    if (fd_ < 0) return false;
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f", row.Seconds);
    const auto& id = row.Identity;
    std::string line;
    for (const std::string& field : {LocalTime(), row.Label, family, id.ModelCode, id.KernelDigits, id.TerminalID,
                                     id.TerminalName, row.Outcome(), std::string(seconds)}) {
        if (!line.empty()) line += ',';
        line += Field(field);
    }
    return WriteLine(line);
}

}  // namespace tolm::cli
