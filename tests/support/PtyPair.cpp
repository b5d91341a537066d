#include "TestSupport.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <stdexcept>

namespace tolm::test {

PtyPair::PtyPair() {
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
        throw std::runtime_error("cannot create a pseudo-terminal");
    slavePath_ = ptsname(master_);
    // Raw mode on the line so bytes pass unchanged in both directions.
    keepSlave_ = open(slavePath_.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(keepSlave_, &tio);
    cfmakeraw(&tio);
    tcsetattr(keepSlave_, TCSANOW, &tio);
}

PtyPair::~PtyPair() {
    if (keepSlave_ >= 0) close(keepSlave_);
    CloseMaster();
}

void PtyPair::CloseMaster() {
    if (master_ >= 0) close(master_);
    master_ = -1;
}

void PtyPair::Write(const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
        if (n < 0) throw std::runtime_error("pty write failed");
        done += static_cast<size_t>(n);
    }
}

std::string PtyPair::Read(int timeoutMs, size_t minBytes) {
    std::string out;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (true) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        int wait = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count());
        if (out.size() >= minBytes && wait > 50) wait = 50;
        pollfd pfd{master_, POLLIN, 0};
        int r = poll(&pfd, 1, wait);
        if (r <= 0) {
            if (out.size() >= minBytes) break;
            continue;
        }
        char buf[4096];
        ssize_t n = ::read(master_, buf, sizeof buf);
        if (n <= 0) break;
        out.append(buf, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace tolm::test
