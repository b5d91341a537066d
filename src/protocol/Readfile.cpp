#include "protocol/Readfile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace tolm {

namespace {
// The one place where a file is opened for reading: read-only, and refused
// (-1) unless it is a regular file, so that a device node or a pipe given as
// a firmware file is never read from.
int OpenForReading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}
}  // namespace

TReadFile::TReadFile(const std::string& path) : fd_(OpenForReading(path)) {}

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
