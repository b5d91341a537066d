#include "Server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <memory>

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
            stalledPolls = 0;
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

// The device's end of a pseudo-terminal, and the link the host opens.
struct Pty {
    int master = -1;
    int keepSlave = -1;
    std::string slavePath;
};

// A new pty, in raw mode, linked at linkPath; false (with a message) when it cannot be made.
bool OpenPty(const ServerSettings& settings, Pty& pty) {
    pty.master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        std::perror("tolm-devsim: cannot create a pseudo-terminal");
        return false;
    }
    pty.slavePath = ptsname(pty.master);
    // Keep the line open ourselves, in raw mode, so the host's opens and
    // closes never hang the line up under us.
    pty.keepSlave = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(pty.keepSlave, &tio);
    cfmakeraw(&tio);
    tcsetattr(pty.keepSlave, TCSANOW, &tio);

    if (!settings.linkPath.empty()) {
        unlink(settings.linkPath.c_str());
        if (symlink(pty.slavePath.c_str(), settings.linkPath.c_str()) != 0) {
            std::perror("tolm-devsim: cannot create the link");
            return false;
        }
    }
    std::printf("PTY %s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    return true;
}

// Takes the line away as an unplugged adapter does: the link goes, and with
// both ends closed the host's descriptor is hung up.
void ClosePty(const ServerSettings& settings, Pty& pty) {
    if (!settings.linkPath.empty()) unlink(settings.linkPath.c_str());
    if (pty.keepSlave >= 0) close(pty.keepSlave);
    if (pty.master >= 0) close(pty.master);
    pty = Pty{};
}

void AppendLine(const std::string& path, const std::string& text) {
    if (path.empty()) return;
    std::ofstream out(path, std::ios::app);
    out << text << '\n';
}

// Waits ms, or less when a stop request comes.
void Pause(int ms) {
    for (int waited = 0; waited < ms && !g_stop; waited += 10) usleep(10000);
}
}  // namespace

int RunServer(Device& device, const ServerSettings& settings, const Options&) {
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGPIPE, SIG_IGN);

    Pty pty;
    if (!OpenPty(settings, pty)) return 1;
    auto line = std::make_unique<PtyLine>(pty.master);
    FaultyLine faulty(*line, settings.faults, [] { return g_stop.load(); },
                      [&](const std::string& text) { AppendLine(settings.faultLog, text); });
    TByteBuffer pending;
    uint8_t buf[8192];
    while (!g_stop) {
        int backMs = -1;
        if (faulty.TakeVanish(backMs)) {
            // Gone mid-exchange: what the host sent meanwhile is lost with the line.
            ClosePty(settings, pty);
            pending = TByteBuffer();
            if (backMs < 0) {
                while (!g_stop) Pause(50);
                break;
            }
            Pause(backMs);
            if (g_stop) break;
            if (!OpenPty(settings, pty)) return 1;
            line = std::make_unique<PtyLine>(pty.master);
            faulty.SetInner(*line);
        }
        pollfd pfd{pty.master, POLLIN, 0};
        int r = poll(&pfd, 1, 50);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (pfd.revents & POLLIN)) {
            ssize_t n = read(pty.master, buf, sizeof buf);
            if (n > 0) pending.Append(TByteBuffer(buf, static_cast<size_t>(n)));
        } else if (r == 0) {
            device.OnIdle(*line);
        }
        // Hand every complete request to the device, in order; its replies
        // go through the faults.
        while (!pending.IsEmpty() && !g_stop) {
            int len = device.RequestLength(pending);
            if (len == 0) break;
            if (len < 0) {
                pending = pending.Mid(1, pending.Length() - 1);
                continue;
            }
            TByteBuffer request = pending.Mid(0, len);
            pending = pending.Mid(len, pending.Length() - len);
            device.OnRequest(request, faulty);
            if (device.TakeImageComplete()) SaveImage(device, settings.imageOut);
            if (faulty.VanishPending()) break;
        }
    }
    SaveImage(device, settings.imageOut);
    ClosePty(settings, pty);
    AppendLine(settings.faultLog, "replies " + std::to_string(faulty.Replies()));
    return 0;
}

}  // namespace tolm::devsim
