#pragma once
// SHA-256 of a file, so that a record names exactly the firmware it wrote.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tolm::cli {

class TSha256 {
public:
    TSha256();
    void Add(const uint8_t* data, size_t count);
    // The digest as 64 lower-case hex digits; the object is spent afterwards.
    std::string HexDigest();

private:
    void Block(const uint8_t* block);
    uint32_t state_[8];
    uint8_t pending_[64];
    size_t pendingCount_ = 0;
    uint64_t totalBytes_ = 0;
};

// The hex digest of the file at path; empty (with error set) when it cannot be read.
std::string FileSha256(const std::string& path, std::string& error);

}  // namespace tolm::cli
