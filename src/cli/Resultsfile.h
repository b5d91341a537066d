#pragma once
// The station's record of what each device got: one CSV line per attempt,
// each written whole or not at all and synced to disk before the next, so a
// crash, a power cut or a full disk never leaves half a line. A new (or
// empty) file gets the header line first; a file of an older version keeps
// its columns. The newest columns make each line traceable on its own: the
// attempt's ID (a UUID, which the site database keys on), the station and
// operator, the start and end in UTC, and the device's own ID. The file is never followed through a link at its name, never
// a FIFO or a device, and never a file whose first line is not a header.
#include <string>
#include <vector>

#include "cli/Portrun.h"
#include "records/Attempt.h"

namespace tolm::cli {

// Who records: the station's name and the operator (may be empty).
struct TRecordingBench {
    std::string Station;
    std::string Operator;
};

class TResultsFile {
public:
    // Opens (creates) path for appending; Error() says why when it cannot.
    // Every line names the firmware file by its SHA-256 (hex) and the program by its version.
    TResultsFile(const std::string& path, const std::string& firmwareSha256, const std::string& programVersion,
                 const TRecordingBench& bench = {});
    ~TResultsFile();
    TResultsFile(const TResultsFile&) = delete;
    TResultsFile& operator=(const TResultsFile&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }
    const std::string& Path() const { return path_; }

    // The line of a finished attempt (without its line break), in the file's columns.
    std::string Line(const TPortRow& row) const;
    // Appends line whole, with one write, and syncs it; on any failure the
    // file is cut back to where the line began and Error() says why. A file
    // no longer at its path (deleted, moved, replaced) fails too.
    bool Append(const std::string& line);

    // One CSV field: a text that a spreadsheet would take for a formula
    // (=, +, - or @ first) gets a ' in front; quoted when it holds a comma, a
    // quote or a line break.
    static std::string Field(const std::string& text);
    // Scanner digits as "7_1_0" rather than "7/1/0", which spreadsheets take for a date.
    static std::string KernelField(const std::string& digits);

private:
    bool WriteLine(const std::string& line);
    std::string LostFileText() const;
    int fd_ = -1;
    records::TResultsLayout layout_ = records::TResultsLayout::Full;  // the columns of the file's header
    TRecordingBench bench_;
    std::string path_, sha256_, version_, error_;
};

// Says on stderr that the file at path could not take these lines (why), and
// gives them there, so that none is lost.
void TellUnwrittenLines(const std::string& path, const std::string& why, const std::vector<std::string>& lines);

}  // namespace tolm::cli
