#include "records/Resultsreader.h"

#include <cerrno>
#include <cstring>

#include "toolkit/Files.h"

namespace tolm::records {

namespace {
constexpr long long kChunk = 64 * 1024;

// Walks the whole records of the file open as fd from offset: visit(start,
// end, text) for each until it returns false or the whole records end.
template <typename Visit>
bool EachRecord(int fd, long long offset, bool wantText, Visit visit) {
    std::string chunk(static_cast<size_t>(kChunk), '\0');
    std::string text;
    long long start = offset, at = offset;
    bool quoted = false;
    while (true) {
        const long long n = ReadFileAt(fd, at, chunk.data(), kChunk);
        if (n < 0) return false;
        if (n == 0) return true;
        for (long long i = 0; i < n; ++i) {
            const char c = chunk[static_cast<size_t>(i)];
            if (c == '"') quoted = !quoted;
            if (c != '\n' || quoted) {
                if (wantText) text += c;
                continue;
            }
            if (!text.empty() && text.back() == '\r') text.pop_back();
            const long long end = at + i + 1;
            if (!visit(start, end, text)) return true;
            text.clear();
            start = end;
        }
        at += n;
    }
}

std::string Reason(const std::string& path) { return "cannot read " + path + ": " + std::strerror(errno); }
}  // namespace

bool TResultsReader::ReadHeader(std::string& why) {
    why.clear();
    const int fd = OpenRegularFile(path_);
    if (fd < 0) {
        if (errno != ENOENT) why = errno == EINVAL ? path_ + " is not a regular file" : Reason(path_);
        return false;
    }
    std::vector<std::pair<long long, std::string>> records;  // ends and texts of the first two
    const bool read = EachRecord(fd, 0, true, [&](long long, long long end, const std::string& text) {
        records.emplace_back(end, text);
        return records.size() < 2;
    });
    const bool empty = OpenFileSize(fd) == 0;
    CloseFile(fd);
    if (!read) {
        why = Reason(path_);
        return false;
    }
    if (empty) return false;
    std::string header = records.empty() ? std::string() : records[0].second;
    // A byte-order mark, which some editors put first, is no part of the header.
    if (header.rfind("\xEF\xBB\xBF", 0) == 0) header.erase(0, 3);
    const auto layout = LayoutOfHeader(header);
    if (!layout) {
        why = path_ + " is not a results file: its first line is not a results header";
        return false;
    }
    layout_ = *layout;
    dataStart_ = records[0].first;
    identity_ = records.size() > 1 ? records[1].second : std::string();
    return true;
}

std::vector<TResultsRecord> TResultsReader::Read(long long offset, long number, size_t max, std::string& why) const {
    std::vector<TResultsRecord> records;
    const int fd = OpenRegularFile(path_);
    if (fd < 0) {
        why = Reason(path_);
        return records;
    }
    const bool read = EachRecord(fd, offset, true, [&](long long start, long long end, const std::string& text) {
        records.push_back({start, end, number++, text});
        return records.size() < max;
    });
    CloseFile(fd);
    if (!read) why = Reason(path_);
    return records;
}

long TResultsReader::Count(long long offset, long long& end, std::string& why) const {
    end = offset;
    const int fd = OpenRegularFile(path_);
    if (fd < 0) {
        why = Reason(path_);
        return 0;
    }
    long count = 0;
    const bool read = EachRecord(fd, offset, false, [&](long long, long long recordEnd, const std::string&) {
        ++count;
        end = recordEnd;
        return true;
    });
    CloseFile(fd);
    if (!read) why = Reason(path_);
    return count;
}

}  // namespace tolm::records
