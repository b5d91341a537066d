#pragma once
// A workstation file opened read-only (regular files only; a FIFO or device
// is refused without blocking) for reads at given offsets: what the terminal
// families' loaders read their files with.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "toolkit/ByteBuffer.h"
#include "toolkit/Files.h"

namespace tolm {

class TReadFile {
public:
    explicit TReadFile(const std::string& path) : fd_(OpenRegularFile(path)) {}
    ~TReadFile() {
        if (fd_ >= 0) close(fd_);
    }
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    long long Size() const {
        struct stat st {};
        return fstat(fd_, &st) == 0 ? static_cast<long long>(st.st_size) : -1;
    }
    // Up to count bytes at offset (fewer at the end of the file).
    TByteBuffer ReadAt(long long offset, int count) const {
        TByteBuffer out(count);
        int done = 0;
        while (done < count) {
            ssize_t n = pread(fd_, out.data() + done, static_cast<size_t>(count - done), offset + done);
            if (n <= 0) break;
            done += static_cast<int>(n);
        }
        out.SetLength(done);
        return out;
    }

private:
    int fd_;
};

}  // namespace tolm
