#include "Server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>

namespace tolm::devsim {

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

class PtyLine : public Line {
public:
    explicit PtyLine(int fd) : fd_(fd) {}
    void Write(const TByteBuffer& bytes) override {
        size_t done = 0;
        int stalledPolls = 0;
        while (done < static_cast<size_t>(bytes.Length())) {
            ssize_t n = ::write(fd_, bytes.data() + done, bytes.Length() - done);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN) {
                    // Nobody is reading the line (a device that announces itself
                    // fills it in time). Like a real line, bytes the other side
                    // does not take within about a second are lost; and a stop
                    // request is never kept waiting.
                    if (g_stop) return;
                    pollfd pfd{fd_, POLLOUT, 0};
                    if (poll(&pfd, 1, 100) == 0 && ++stalledPolls >= 10) return;
                    continue;
                }
                return;
            }
            fullPolls = 0;
            done += static_cast<size_t>(n);
        }
    }

private:
    int fd_;
};

bool SaveImage(const Device& device, const std::string& path) {
    if (path.empty()) return true;
    TByteBuffer image = device.Image();
    // Written to a temporary name and renamed, so a reader never sees half a file.
    std::string tmp = path + ".part";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out.write(reinterpret_cast<const char*>(image.data()), image.Length());
        if (!out) return false;
    }
    return std::rename(tmp.c_str(), path.c_str()) == 0;
}
}  // namespace

int RunServer(Device& device, const ServerSettings& settings, const Options&) {
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGPIPE, SIG_IGN);

    int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("tolm-devsim: cannot create a pseudo-terminal");
        return 1;
    }
    std::string slavePath = ptsname(master);
    // Keep the line open ourselves, in raw mode, so the host's opens and
    // closes never hang the line up under us.
    int keepSlave = open(slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(keepSlave, &tio);
    cfmakeraw(&tio);
    tcsetattr(keepSlave, TCSANOW, &tio);

    if (!settings.linkPath.empty()) {
        unlink(settings.linkPath.c_str());
        if (symlink(slavePath.c_str(), settings.linkPath.c_str()) != 0) {
            std::perror("tolm-devsim: cannot create the link");
            return 1;
        }
    }
    std::printf("PTY %s\n", slavePath.c_str());
    std::fflush(stdout);

    PtyLine line(master);
    TByteBuffer pending;
    uint8_t buf[8192];
    while (!g_stop) {
        pollfd pfd{master, POLLIN, 0};
        int r = poll(&pfd, 1, 50);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (pfd.revents & POLLIN)) {
            ssize_t n = read(master, buf, sizeof buf);
            if (n > 0) pending.Append(TByteBuffer(buf, static_cast<size_t>(n)));
        } else if (r == 0) {
            device.OnIdle(line);
        }
        // Hand every complete request to the device, in order.
        while (!pending.IsEmpty()) {
            int len = device.RequestLength(pending);
            if (len == 0) break;
            if (len < 0) {
                pending = pending.Mid(1, pending.Length() - 1);
                continue;
            }
            TByteBuffer request = pending.Mid(0, len);
            pending = pending.Mid(len, pending.Length() - len);
            device.OnRequest(request, line);
            if (device.TakeImageComplete()) SaveImage(device, settings.imageOut);
        }
    }
    SaveImage(device, settings.imageOut);
    if (!settings.linkPath.empty()) unlink(settings.linkPath.c_str());
    close(keepSlave);
    close(master);
    return 0;
}

}  // namespace tolm::devsim
