#pragma once
// A workstation file opened read-only (regular files only) for reads at given
// offsets: what every family's loaders and the file splitter read with.
#include <cstdint>
#include <string>

#include "toolkit/ByteBuffer.h"

namespace tolm {

class TReadFile {
public:
    explicit TReadFile(const std::string& path);
    ~TReadFile();
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    // The file's size in bytes; -1 when it is not open.
    long long Size() const;
    // Reads up to count bytes at offset into buffer: the number read (fewer at
    // the end of the file), or -1 on a read error.
    long long ReadAt(long long offset, uint8_t* buffer, long long count) const;
    // Up to count bytes at offset (fewer at the end of the file or after a read error).
    TByteBuffer ReadAt(long long offset, int count) const;

private:
    int fd_;
};

}  // namespace tolm
