#pragma once
// The firmware file of a run with several devices, read once: its bytes go
// to a private copy that every child process reads, so that each device gets
// exactly the bytes whose hash its line names, whatever happens to the file
// on disk meanwhile (replaced, rewritten, deleted).
#include <optional>
#include <string>

#include "toolkit/Files.h"

namespace tolm::cli {

class TFirmwareCopy {
public:
    TFirmwareCopy() = default;
    ~TFirmwareCopy();  // removes the copy
    TFirmwareCopy(const TFirmwareCopy&) = delete;
    TFirmwareCopy& operator=(const TFirmwareCopy&) = delete;

    // Reads path once and copies it into a private folder under the same
    // name (the name's extension tells a font from a firmware file). False,
    // with why, when it cannot be read or copied.
    bool Make(const std::string& path, std::string& why);
    // What the children are given.
    const std::string& CopyPath() const { return copyPath_; }
    // The SHA-256 (hex) of the bytes read.
    const std::string& Sha256() const { return sha256_; }
    // True the first time the file at the original path is seen to be
    // another than the one read (its size or time of change differ, or it is gone).
    bool ChangedOnDisk();

private:
    std::string original_, folder_, copyPath_, sha256_;
    std::optional<TFileFacts> readFacts_;
    bool changeTold_ = false;
};

}  // namespace tolm::cli
