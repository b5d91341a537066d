#include "protocol/Readfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "toolkit/Files.h"

namespace tolm {

// The one place where the reader opens a file: read-only, and only a regular
// file, so that a FIFO or device given as a firmware file is never read from.
TReadFile::TReadFile(const std::string& path) : fd_(OpenRegularFile(path)) {}

TReadFile::~TReadFile() {
    if (fd_ >= 0) close(fd_);
}

long long TReadFile::Size() const {
    struct stat st {};
    return fd_ >= 0 && fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
}

long long TReadFile::ReadAt(long long offset, uint8_t* buffer, long long count) const {
    if (fd_ < 0) return -1;
    long long done = 0;
    while (done < count) {
        const ssize_t n = pread(fd_, buffer + done, static_cast<size_t>(count - done), offset + done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) break;
        done += n;
    }
    return done;
}

TByteBuffer TReadFile::ReadAt(long long offset, int count) const {
    TByteBuffer out(count);
    const long long got = ReadAt(offset, out.data(), count);
    out.SetLength(got > 0 ? static_cast<int>(got) : 0);
    return out;
}

}  // namespace tolm
