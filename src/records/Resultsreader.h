#pragma once
// Reads a station's results file while the station may be appending to it:
// its header, and its whole records from a given offset on. A record ends at
// a line break outside quotes; a last record without its line break is still
// being written (or was cut by a crash) and is not read until it ends. The
// file is opened for each read and never written.
#include <optional>
#include <string>
#include <vector>

#include "records/Attempt.h"

namespace tolm::records {

// One whole record of the file.
struct TResultsRecord {
    long long Offset = 0;  // of its first byte
    long long End = 0;     // just after its line break: where the next record starts
    long Number = 0;       // from 1, the header being record 1
    std::string Text;      // without the line break (nor a CR before it)
};

class TResultsReader {
public:
    explicit TResultsReader(std::string path) : path_(std::move(path)) {}

    // Reads the header; false, with why set, when the file cannot be read or
    // its first line is no header of a results file. A file that does not
    // exist yet, or is empty, is one whose header is still to come: false,
    // with why empty.
    bool ReadHeader(std::string& why);
    TResultsLayout Layout() const { return layout_; }
    // Where the first data record starts.
    long long DataStart() const { return dataStart_; }
    // The first data record, which names the file in derived attempt IDs;
    // empty while there is none. Read by ReadHeader.
    const std::string& Identity() const { return identity_; }

    // Up to max whole records from offset (where a record starts; number is
    // its number); fewer at the end of what is whole. why is set when the
    // file could not be read.
    std::vector<TResultsRecord> Read(long long offset, long number, size_t max, std::string& why) const;
    // The whole records from offset to the end of the file, counted; end gets
    // where the last of them ends.
    long Count(long long offset, long long& end, std::string& why) const;

private:
    std::string path_;
    TResultsLayout layout_ = TResultsLayout::Full;
    long long dataStart_ = 0;
    std::string identity_;
};

}  // namespace tolm::records
