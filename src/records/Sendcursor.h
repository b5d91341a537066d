#pragma once
// How much of a results file has reached the database: a small file beside
// it ("bench.csv" has "bench.csv.cursor"), replaced whole and flushed to the
// disk after every transaction the database committed. The results file
// itself is never rewritten. A cursor that is lost or lags behind only makes
// lines go again, which the database's key on the attempt ID stores once.
#include <optional>
#include <string>

namespace tolm::records {

struct TSendCursor {
    std::string FileId;   // names the results file (the ID of its first data record): a replaced file is told
    long long Offset = 0;  // the bytes of the results file that have reached the database
    long Number = 0;       // the records before Offset, the header included

    bool operator==(const TSendCursor&) const = default;
};

// "bench.csv.cursor" for "bench.csv".
std::string CursorPath(const std::string& resultsPath);

// The cursor kept at path; nothing when there is none or it cannot be read
// as one (why then says so; it is empty for a file that does not exist).
std::optional<TSendCursor> LoadCursor(const std::string& path, std::string& why);
// Replaces the cursor at path (Systemservices.h: WriteFileDurably).
bool SaveCursor(const std::string& path, const TSendCursor& cursor, std::string& why);

}  // namespace tolm::records
