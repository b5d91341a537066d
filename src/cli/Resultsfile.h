#pragma once
// The station's record of what each device got: one CSV line per upgrade,
// appended and synced to disk before the next, so a crash or a power cut
// loses no finished line. A new (or empty) file gets the header line first.
#include <string>

#include "cli/Portrun.h"

namespace tolm::cli {

class TResultsFile {
public:
    static constexpr const char* kHeader =
        "time,port,family,model_code,kernel_digits,terminal_id,terminal_name,result,seconds";
    // Opens (creates) path for appending; Error() says why when it cannot.
    explicit TResultsFile(const std::string& path);
    ~TResultsFile();
    TResultsFile(const TResultsFile&) = delete;
    TResultsFile& operator=(const TResultsFile&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Error() const { return error_; }
    // Appends the line of a finished upgrade; false when it could not be written whole.
    bool Append(const TPortRow& row, const std::string& family);

    // One CSV field: quoted when it holds a comma, a quote or a line break.
    static std::string Field(const std::string& text);

private:
    bool WriteLine(const std::string& line);
    int fd_ = -1;
    std::string error_;
};

}  // namespace tolm::cli
