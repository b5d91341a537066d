#include "cli/Attemptjournal.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "toolkit/Files.h"

namespace tolm::cli {

namespace {
constexpr const char* kOpen = "open";
constexpr const char* kClosed = "closed";

// Fields are tab-separated; what a device told may hold neither tabs nor line breaks here.
std::string Flat(std::string text) {
    for (auto& c : text)
        if (c == '\t' || c == '\n' || c == '\r') c = ' ';
    return text;
}

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const auto n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}
}  // namespace

TAttemptJournal::TAttemptJournal(const std::string& resultsPath) : path_(resultsPath + ".journal") {}

TAttemptJournal::~TAttemptJournal() { CloseFile(fd_); }

bool TAttemptJournal::LeftOpen(std::vector<TPortRow>& rows, std::string& why) const {
    std::error_code ec;
    if (!std::filesystem::exists(FilePath(path_), ec)) return true;
    std::ifstream in(FilePath(path_), std::ios::binary);
    if (!in) {
        why = "cannot read " + path_ + ": " + std::strerror(errno);
        return false;
    }
    std::map<std::string, TPortRow> open;
    std::vector<std::string> order;
    std::string line;
    // A last line cut by a crash lacks fields and is passed over: its
    // attempt never sent a byte, which waited for the whole line.
    while (std::getline(in, line)) {
        const auto f = Split(line);
        if (f.size() == 2 && f[0] == kClosed) {
            open.erase(f[1]);
        } else if (f.size() == 14 && f[0] == kOpen) {
            TPortRow row;
            row.AttemptId = f[1];
            row.StartedAt = std::chrono::system_clock::time_point(std::chrono::seconds(std::atoll(f[2].c_str())));
            row.Label = f[3];
            row.Family = f[4];
            row.FirmwareSha256 = f[5];
            row.Identity = {f[6], f[7], f[8], f[9]};
            row.Dock = {f[10], f[11], f[12], f[13]};
            row.Attempted = true;
            row.HasResult = true;
            row.Result = kStationEndedResult;
            row.Seconds = -1;  // how long it ran is not known
            if (open.emplace(row.AttemptId, row).second) order.push_back(row.AttemptId);
        }
    }
    for (const auto& id : order)
        if (auto it = open.find(id); it != open.end()) rows.push_back(it->second);
    return true;
}

bool TAttemptJournal::Start(std::string& why) {
    std::error_code ec;
    std::filesystem::remove(FilePath(path_), ec);
    fd_ = OpenSharedAppendFile(path_);
    if (fd_ < 0) {
        why = "cannot create " + path_ + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool TAttemptJournal::Began(const TPortRow& row, const std::string& firmwareSha256, std::string& why) {
    const long long started =
        std::chrono::duration_cast<std::chrono::seconds>(row.StartedAt.time_since_epoch()).count();
    const std::vector<std::string> fields{kOpen,
                                          row.AttemptId,
                                          std::to_string(started),
                                          row.Label,
                                          row.Family,
                                          firmwareSha256,
                                          row.Identity.ModelCode,
                                          row.Identity.KernelDigits,
                                          row.Identity.TerminalID,
                                          row.Identity.TerminalName,
                                          row.Dock.ModelCode,
                                          row.Dock.KernelDigits,
                                          row.Dock.TerminalID,
                                          row.Dock.TerminalName};
    std::string line;
    for (const auto& field : fields) line += (line.empty() ? "" : "\t") + Flat(field);
    if (fd_ >= 0 && StillFileAtPath(fd_, path_) && WriteAll(fd_, line + "\n") && SyncFile(fd_)) return true;
    why = fd_ < 0 ? "the journal " + path_ + " is not open"
                  : "the journal " + path_ + " could not be written (" + std::strerror(errno) + ")";
    return false;
}

void TAttemptJournal::Closed(const std::string& attemptId) {
    // Not synced: a note lost with a crash only makes the next station look
    // the attempt up in the results file, where its line is.
    if (fd_ >= 0) WriteAll(fd_, std::string(kClosed) + "\t" + attemptId + "\n");
}

void TAttemptJournal::Remove() {
    CloseFile(fd_);
    fd_ = -1;
    std::error_code ec;
    std::filesystem::remove(FilePath(path_), ec);
}

}  // namespace tolm::cli
