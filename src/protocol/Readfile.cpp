#include "protocol/Readfile.h"

#include "toolkit/Files.h"

namespace tolm {

// The one place where the reader opens a file: read-only, and only a regular
// file, so that a FIFO or device given as a firmware file is never read from.
TReadFile::TReadFile(const std::string& path) : fd_(OpenRegularFile(path)) {}

TReadFile::~TReadFile() { CloseFile(fd_); }

long long TReadFile::Size() const { return OpenFileSize(fd_); }

long long TReadFile::ReadAt(long long offset, uint8_t* buffer, long long count) const {
    return ReadFileAt(fd_, offset, buffer, count);
}

TByteBuffer TReadFile::ReadAt(long long offset, int count) const {
    TByteBuffer out(count);
    const long long got = ReadAt(offset, out.data(), count);
    out.SetLength(got > 0 ? static_cast<int>(got) : 0);
    return out;
}

}  // namespace tolm
