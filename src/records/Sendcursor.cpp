#include "records/Sendcursor.h"

#include <cerrno>
#include <cstring>
#include <sstream>

#include "records/Systemservices.h"
#include "toolkit/Files.h"

namespace tolm::records {

namespace {
constexpr const char* kFirstLine = "tolm-upgrade send cursor 1";
}

std::string CursorPath(const std::string& resultsPath) { return resultsPath + ".cursor"; }

std::optional<TSendCursor> LoadCursor(const std::string& path, std::string& why) {
    why.clear();
    const int fd = OpenRegularFile(path);
    if (fd < 0) {
        if (errno != ENOENT) why = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text(4096, '\0');
    const long long n = ReadFileAt(fd, 0, text.data(), static_cast<long long>(text.size()));
    CloseFile(fd);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
    std::istringstream lines(text);
    std::string first, key;
    TSendCursor cursor;
    bool file = false, offset = false, number = false;
    std::getline(lines, first);
    while (lines >> key) {
        if (key == "file") file = static_cast<bool>(lines >> cursor.FileId);
        else if (key == "offset") offset = static_cast<bool>(lines >> cursor.Offset);
        else if (key == "record") number = static_cast<bool>(lines >> cursor.Number);
        else break;
    }
    if (first != kFirstLine || !file || !offset || !number || cursor.Offset < 0 || cursor.Number < 1) {
        why = path + " is not a send cursor";
        return std::nullopt;
    }
    return cursor;
}

bool SaveCursor(const std::string& path, const TSendCursor& cursor, std::string& why) {
    const std::string text = std::string(kFirstLine) + "\nfile " + cursor.FileId + "\noffset " +
                             std::to_string(cursor.Offset) + "\nrecord " + std::to_string(cursor.Number) + "\n";
    return WriteFileDurably(path, text, why);
}

}  // namespace tolm::records
