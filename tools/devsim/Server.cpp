#include "Server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <thread>

namespace tolm::devsim {

namespace {
std::atomic<bool> g_stop{false};
void OnSignal(int) { g_stop = true; }

using Clock = std::chrono::steady_clock;

// Sleeps until `when`; false when a stop request came first.
bool SleepUntil(Clock::time_point when) {
    while (!g_stop) {
        auto now = Clock::now();
        if (now >= when) return true;
        std::this_thread::sleep_for(std::min<Clock::duration>(when - now, std::chrono::milliseconds(50)));
    }
    return false;
}

// The line's speed, when the server emulates it: each byte takes ten bit
// times (start bit, eight data bits, stop bit) at the device's current speed.
// It also adds up the bytes that crossed the line and their line time.
class LineSpeed {
public:
    LineSpeed(const Device& device, long baud, bool emulated) : device_(device), baud_(baud), emulated_(emulated) {}
    bool Emulated() const { return emulated_; }
    void Crossed(int bytes, Clock::duration charTime) {
        bytes_ += bytes;
        lineTime_ += bytes * charTime;
    }
    long long Bytes() const { return bytes_; }
    double LineSeconds() const { return std::chrono::duration<double>(lineTime_).count(); }
    Clock::duration CharTime() const {
        long speed = device_.LineSpeed() > 0 ? device_.LineSpeed() : baud_;
        return std::chrono::nanoseconds(10'000'000'000LL / std::max(speed, 1L));
    }
    // Bytes moved per paced step: about a millisecond of line time, at least one.
    int StepBytes() const {
        auto perMs = std::chrono::milliseconds(1) / CharTime();
        return static_cast<int>(std::max<int64_t>(perMs, 1));
    }

private:
    const Device& device_;
    long baud_;
    bool emulated_;
    long long bytes_ = 0;
    Clock::duration lineTime_{};
};

class PtyLine : public Line {
public:
    PtyLine(int fd, LineSpeed& speed) : fd_(fd), speed_(speed) {}
    void Write(const TByteBuffer& bytes) override {
        if (!speed_.Emulated()) {
            WriteNow(bytes.data(), static_cast<size_t>(bytes.Length()));
            return;
        }
        // Each step's bytes are handed over when their last one would have
        // reached the far end; the next reply starts after this one has gone.
        const auto charTime = speed_.CharTime();
        const auto start = std::max(Clock::now(), lineFree_);
        const int step = speed_.StepBytes();
        for (int done = 0; done < bytes.Length();) {
            int n = std::min(step, bytes.Length() - done);
            if (!SleepUntil(start + (done + n) * charTime)) return;
            WriteNow(bytes.data() + done, static_cast<size_t>(n));
            done += n;
        }
        lineFree_ = start + bytes.Length() * charTime;
        speed_.Crossed(bytes.Length(), charTime);
    }

private:
    void WriteNow(const uint8_t* data, size_t length) {
        size_t done = 0;
        int stalledPolls = 0;
        while (done < length) {
            ssize_t n = ::write(fd_, data + done, length - done);
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

    int fd_;
    LineSpeed& speed_;
    Clock::time_point lineFree_{};  // when the last reply byte has gone out
};

// Runs a step before each reply is written (the completion of an image).
class CompletionFirstLine : public Line {
public:
    CompletionFirstLine(Line& inner, std::function<void()> before) : inner_(inner), before_(std::move(before)) {}
    void Write(const TByteBuffer& bytes) override {
        before_();
        inner_.Write(bytes);
    }

private:
    Line& inner_;
    std::function<void()> before_;
};

// Reads what the host wrote. Emulated, no faster than the line carries it:
// a step of bytes is taken only once its last byte would have arrived, so the
// device sees a request complete when a real line would deliver it.
class LineReader {
public:
    LineReader(int fd, LineSpeed& speed) : fd_(fd), speed_(speed) {}
    // Called when the pty has input; appends what was read. False on a stop request.
    bool Read(TByteBuffer& pending) {
        if (!speed_.Emulated()) {
            ssize_t n = ::read(fd_, buf_, sizeof buf_);
            if (n > 0) pending.Append(TByteBuffer(buf_, static_cast<size_t>(n)));
            return true;
        }
        int waiting = 0;
        if (ioctl(fd_, FIONREAD, &waiting) != 0 || waiting <= 0) waiting = 1;
        const auto charTime = speed_.CharTime();
        // Bytes that were already waiting when the last step was read follow
        // it on the line; the first bytes after a quiet spell start now.
        if (!lineBusy_) lineFree_ = std::max(lineFree_, Clock::now());
        const int n = std::min({waiting, speed_.StepBytes(), static_cast<int>(sizeof buf_)});
        const auto due = lineFree_ + n * charTime;
        if (!SleepUntil(due)) return false;
        ssize_t got = ::read(fd_, buf_, static_cast<size_t>(n));
        if (got > 0) {
            pending.Append(TByteBuffer(buf_, static_cast<size_t>(got)));
            lineFree_ = due - (n - got) * charTime;
            speed_.Crossed(static_cast<int>(got), charTime);
        }
        int more = 0;
        lineBusy_ = got > 0 && ioctl(fd_, FIONREAD, &more) == 0 && more > 0;
        return true;
    }

private:
    int fd_;
    LineSpeed& speed_;
    uint8_t buf_[8192];
    Clock::time_point lineFree_{};  // when the last byte read had arrived
    bool lineBusy_ = false;         // more bytes waited right after that
};

// The speed the host set on the slave side: a pty's master reports it.
long HostSpeed(int master) {
    termios tio{};
    if (tcgetattr(master, &tio) != 0) return 0;
    switch (cfgetospeed(&tio)) {
        case B1200: return 1200;
        case B2400: return 2400;
        case B4800: return 4800;
        case B9600: return 9600;
        case B19200: return 19200;
        case B38400: return 38400;
        case B57600: return 57600;
        case B115200: return 115200;
        case B230400: return 230400;
        default: return 0;
    }
}

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

// The link usually sits in the port directory of tolm-upgrade-cli and the
// window, which edit it under a lock on the directory (flock) and keep a record
// PATH.id beside an automatic number: the link is made and removed under that
// lock, and the record goes, since the number now reaches this emulator.
class LinkFolderLock {
public:
    explicit LinkFolderLock(const std::string& link) {
        const auto slash = link.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : link.substr(0, slash);
        fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        while (fd_ >= 0 && flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~LinkFolderLock() {
        if (fd_ >= 0) close(fd_);
    }
    LinkFolderLock(const LinkFolderLock&) = delete;
    LinkFolderLock& operator=(const LinkFolderLock&) = delete;

private:
    int fd_ = -1;
};

bool MakeLink(const std::string& link, const std::string& target) {
    LinkFolderLock lock(link);
    const std::string temporary = link + ".new";
    unlink(temporary.c_str());
    if (symlink(target.c_str(), temporary.c_str()) != 0 || rename(temporary.c_str(), link.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    unlink((link + ".id").c_str());
    return true;
}

// Removes the link, unless someone has pointed it elsewhere meanwhile.
void RemoveLink(const std::string& link, const std::string& target) {
    LinkFolderLock lock(link);
    char buf[4096];
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf);
    if (n >= 0 && std::string(buf, static_cast<size_t>(n)) == target) unlink(link.c_str());
}

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

    if (!settings.linkPath.empty() && !MakeLink(settings.linkPath, pty.slavePath)) {
        std::perror("tolm-devsim: cannot create the link");
        return false;
    }
    std::printf("PTY %s\n", pty.slavePath.c_str());
    std::fflush(stdout);
    return true;
}

// Takes the line away as an unplugged adapter does: the link goes, and with
// both ends closed the host's descriptor is hung up.
void ClosePty(const ServerSettings& settings, Pty& pty) {
    if (!settings.linkPath.empty()) RemoveLink(settings.linkPath, pty.slavePath);
    if (pty.keepSlave >= 0) close(pty.keepSlave);
    if (pty.master >= 0) close(pty.master);
    pty = Pty{};
}

void AppendLine(const std::string& path, const std::string& text) {
    if (path.empty()) return;
    std::ofstream out(path, std::ios::app);
    out << text << '\n';
}

}  // namespace

int RunServer(Device& device, const ServerSettings& settings, const Options&) {
    signal(SIGINT, OnSignal);
    signal(SIGTERM, OnSignal);
    signal(SIGPIPE, SIG_IGN);

    Pty pty;
    if (!OpenPty(settings, pty)) return 1;
    LineSpeed speed(device, settings.baud, settings.baudEmulation);
    auto line = std::make_unique<PtyLine>(pty.master, speed);
    auto reader = std::make_unique<LineReader>(pty.master, speed);
    FaultyLine faulty(*line, settings.faults, [] { return g_stop.load(); },
                      [&](const std::string& text) { AppendLine(settings.faultLog, text); });
    TByteBuffer pending;
    // After an image, as a device rebooting into it: every request goes unanswered until then.
    Clock::time_point quietUntil{};
    while (!g_stop) {
        int backMs = -1;
        if (faulty.TakeVanish(backMs)) {
            // Gone mid-exchange: what the host sent meanwhile is lost with the line.
            ClosePty(settings, pty);
            pending = TByteBuffer();
            if (backMs < 0) {
                SleepUntil(Clock::time_point::max());  // gone for good: wait for the stop
                break;
            }
            if (!SleepUntil(Clock::now() + std::chrono::milliseconds(backMs))) break;
            if (!OpenPty(settings, pty)) return 1;
            line = std::make_unique<PtyLine>(pty.master, speed);
            reader = std::make_unique<LineReader>(pty.master, speed);
            faulty.SetInner(*line);
        }
        pollfd pfd{pty.master, POLLIN, 0};
        int r = poll(&pfd, 1, 50);
        if (r < 0 && errno != EINTR) break;
        if (r > 0 && (pfd.revents & POLLIN)) {
            // Taken before the read, as close as can be to the time the bytes were sent.
            device.OnHostSpeed(HostSpeed(pty.master));
            if (!reader->Read(pending)) break;
        } else if (r == 0 && Clock::now() >= quietUntil) {
            device.OnIdle(*line);
        }
        // Hand every complete request to the device, in order; its replies
        // go through the faults.
        while (!pending.IsEmpty() && !g_stop) {
            int len = device.RequestLength(pending);
            // A request whose bytes are still on their way waits for the rest.
            if (len == 0 || len > pending.Length()) break;
            if (len < 0) {
                pending = pending.Mid(1, pending.Length() - 1);
                continue;
            }
            TByteBuffer request = pending.Mid(0, len);
            pending = pending.Mid(len, pending.Length() - len);
            if (Clock::now() < quietUntil) continue;
            // A finished image is saved and logged before the acknowledgement
            // that ends it goes out: a host that saw the acknowledgement can
            // rely on the log saying so, whatever ends the emulator after it.
            auto imageDone = [&] {
                if (!device.TakeImageComplete()) return;
                SaveImage(device, settings.imageOut);
                AppendLine(settings.transferLog, "image complete");
                quietUntil = Clock::now() + std::chrono::milliseconds(settings.quietAfterImageMs);
            };
            CompletionFirstLine replies(faulty, imageDone);
            device.OnRequest(request, replies);
            if (device.TakeTransferStart()) AppendLine(settings.startLog, "transfer start");
            imageDone();
            if (faulty.VanishPending()) break;
        }
    }
    SaveImage(device, settings.imageOut);
    if (speed.Emulated()) {
        // For benchmarks: what crossed the line, and the time it needed there.
        std::printf("LINE %lld bytes %.6f s\n", speed.Bytes(), speed.LineSeconds());
        std::fflush(stdout);
    }
    ClosePty(settings, pty);
    AppendLine(settings.faultLog, "replies " + std::to_string(faulty.Replies()));
    return 0;
}

}  // namespace tolm::devsim
