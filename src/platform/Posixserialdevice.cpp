#include "platform/Posixserialdevice.h"

#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

namespace tolm {

namespace {

speed_t SpeedConstant(int baud) {
    switch (baud) {
        case 50: return B50;
        case 75: return B75;
        case 110: return B110;
        case 134: return B134;
        case 150: return B150;
        case 200: return B200;
        case 300: return B300;
        case 600: return B600;
        case 1200: return B1200;
        case 1800: return B1800;
        case 2400: return B2400;
        case 4800: return B4800;
        case 9600: return B9600;
        case 19200: return B19200;
        case 38400: return B38400;
        case 57600: return B57600;
        case 115200: return B115200;
        case 230400: return B230400;
        case 460800: return B460800;
        case 500000: return B500000;
        case 576000: return B576000;
        case 921600: return B921600;
        case 1000000: return B1000000;
        case 1152000: return B1152000;
        case 1500000: return B1500000;
        case 2000000: return B2000000;
        case 2500000: return B2500000;
        case 3000000: return B3000000;
        case 3500000: return B3500000;
        case 4000000: return B4000000;
        default: return B0;
    }
}

tcflag_t SizeFlag(int dataBits) {
    switch (dataBits) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}


// The slave side of a pseudo-terminal (/dev/pts/N).
bool IsPseudoTerminal(int fd) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    const unsigned int devMajor = major(st.st_rdev);
    return devMajor >= 136 && devMajor <= 143;
}

}  // namespace

std::unique_ptr<ISerialDevice> MakeSerialDevice() { return std::make_unique<PosixSerialDevice>(); }

PosixSerialDevice::~PosixSerialDevice() { Close(); }

bool PosixSerialDevice::Open(const std::string& path) {
    Close();
    openError_ = ENOENT;
    if (path.empty()) return false;
    int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        openError_ = errno;
        return false;
    }
    // Only terminal devices are serial lines; a regular file or /dev/null is not a port.
    if (!isatty(fd)) {
        openError_ = ENOTTY;
        ::close(fd);
        return false;
    }
    // flock also keeps out other processes running as root, which TIOCEXCL does not.
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        openError_ = EBUSY;
        ::close(fd);
        return false;
    }
    openError_ = 0;
    ioctl(fd, TIOCEXCL);
    {
        std::lock_guard lock(mutex_);
        countersSupported_ = true;
        haveBaseline_ = false;
        pseudoTerminal_ = IsPseudoTerminal(fd);
        timeouts_ = {};
    }
    fd_ = fd;
    TakeLineErrors();  // take the counters as they stand at open as the baseline
    return true;
}

void PosixSerialDevice::Close() {
    int fd = fd_.exchange(-1);
    if (fd < 0) return;
    ioctl(fd, TIOCNXCL);
    flock(fd, LOCK_UN);
    ::close(fd);
}

bool PosixSerialDevice::SetQueueSizes(uint32_t inputBytes, uint32_t outputBytes) {
    // The kernel sizes a terminal's queues itself; what matters to the logic is
    // that reads never move more than the input size, which the driver ensures.
    return IsOpen() && inputBytes > 0 && outputBytes > 0;
}

bool PosixSerialDevice::Purge(uint32_t flags) {
    int fd = fd_.load();
    if (fd < 0) return false;
    bool ok = true;
    // Nothing is ever pending in a non-overlapped read or write here, so the
    // abort flags only empty the queue they belong to.
    if (flags & (PURGE_RXCLEAR | PURGE_RXABORT)) ok = tcflush(fd, TCIFLUSH) == 0 && ok;
    // A pseudo-terminal hands every written byte to its peer at once and
    // reports its output as sent; flushing its output would take back bytes
    // the peer has not read yet (a KV escape sent just before the port is
    // opened again), which a real line, whose close waits for the output, never does.
    bool pseudoTerminal = false;
    {
        std::lock_guard lock(mutex_);
        pseudoTerminal = pseudoTerminal_;
    }
    if ((flags & (PURGE_TXCLEAR | PURGE_TXABORT)) && !pseudoTerminal) ok = tcflush(fd, TCOFLUSH) == 0 && ok;
    return ok;
}

bool ApplyLineSettings(termios& tio, const TLineSettings& settings, bool rtsCts) {
    speed_t speed = SpeedConstant(settings.BaudRate);
    if (speed == B0) return false;
    cfmakeraw(&tio);  // binary transfer: NUL bytes and every other byte delivered as received
    tio.c_iflag &= ~(IXON | IXOFF | IXANY | IGNPAR | PARMRK | INPCK);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    tio.c_cflag |= SizeFlag(settings.DataBits);
    switch (settings.Parity) {
        case TParity::None: break;
        case TParity::Even: tio.c_cflag |= PARENB; break;
        case TParity::Odd: tio.c_cflag |= PARENB | PARODD; break;
        case TParity::Mark: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
        case TParity::Space: tio.c_cflag |= PARENB | CMSPAR; break;
    }
    if (settings.Parity != TParity::None) tio.c_iflag |= INPCK;
    // With 5 data bits the UART sends 1.5 stop bits for CSTOPB.
    if (settings.StopBits != TStopBits::One) tio.c_cflag |= CSTOPB;
    if (rtsCts) tio.c_cflag |= CRTSCTS;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speed);
    cfsetospeed(&tio, speed);
    return true;
}

bool PosixSerialDevice::SetLineState(const TLineSettings& settings, bool rtsCts) {
    int fd = fd_.load();
    if (fd < 0) return false;
    termios tio{};
    if (tcgetattr(fd, &tio) != 0) return false;
    if (!ApplyLineSettings(tio, settings, rtsCts)) return false;
    return tcsetattr(fd, TCSANOW, &tio) == 0;
}

bool PosixSerialDevice::SetTimeouts(const TCommTimeouts& timeouts) {
    if (!IsOpen()) return false;
    std::lock_guard lock(mutex_);
    timeouts_ = timeouts;
    return true;
}

TCommTimeouts PosixSerialDevice::Timeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

uint32_t PosixSerialDevice::TakeLineErrors() {
    int fd = fd_.load();
    std::lock_guard lock(mutex_);
    if (fd < 0 || !countersSupported_) return 0;
    serial_icounter_struct ic{};
    if (ioctl(fd, TIOCGICOUNT, &ic) != 0) {
        // Pseudo-terminals and some adapters keep no counters: no errors to report.
        countersSupported_ = false;
        return 0;
    }
    Counters now{ic.frame, ic.overrun, ic.parity, ic.brk, ic.buf_overrun};
    uint32_t errors = 0;
    if (haveBaseline_) {
        if (now.frame != baseline_.frame) errors |= CE_FRAME;
        if (now.overrun != baseline_.overrun) errors |= CE_OVERRUN;
        if (now.parity != baseline_.parity) errors |= CE_RXPARITY;
        if (now.brk != baseline_.brk) errors |= CE_BREAK;
        if (now.bufOverrun != baseline_.bufOverrun) errors |= CE_RXOVER;
    }
    baseline_ = now;
    haveBaseline_ = true;
    return errors;
}

bool PosixSerialDevice::QueryStatus(TCommStatus& status) {
    status = {};
    int fd = fd_.load();
    if (fd < 0) return false;
    int waiting = 0;
    // Fails (EIO) once the line is gone: adapter unplugged, pty master closed.
    if (ioctl(fd, FIONREAD, &waiting) != 0) return false;
    status.BytesWaiting = waiting > 0 ? static_cast<uint32_t>(waiting) : 0;
    status.Errors = TakeLineErrors();
    return true;
}

int PosixSerialDevice::Read(uint8_t* buffer, int count) {
    int fd = fd_.load();
    if (fd < 0 || count < 0) return -1;
    // An interval beyond a minute (such as MAXDWORD, "return at once") waits for no further byte.
    const uint32_t interval = Timeouts().ReadIntervalTimeout;
    const int gapMs = interval > 60000 ? 0 : static_cast<int>(interval);
    int got = 0;
    bool pollSaidReadable = false;
    while (got < count) {
        ssize_t n = ::read(fd, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            pollSaidReadable = false;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return got > 0 ? got : -1;
        // Raw mode without a minimum count reads 0 bytes from an idle line
        // and from one that hung up alike: only poll tells them apart. A line
        // that poll calls readable but that yields nothing has hung up.
        if (pollSaidReadable) return got > 0 ? got : -1;
        pollfd pfd{fd, POLLIN, 0};
        int r = poll(&pfd, 1, gapMs);
        if (r == 0) break;  // idle for the whole interval gap
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || (pfd.revents & (POLLERR | POLLNVAL))) return got > 0 ? got : -1;
        if ((pfd.revents & POLLHUP) && !(pfd.revents & POLLIN)) return got > 0 ? got : -1;
        pollSaidReadable = true;
    }
    return got;
}

int PosixSerialDevice::WriteSome(const uint8_t* data, int count) {
    int fd = fd_.load();
    if (fd < 0 || count < 0) return -1;
    if (count == 0) return 0;
    while (true) {
        ssize_t n = ::write(fd, data, static_cast<size_t>(count));
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
        return -1;
    }
}

bool PosixSerialDevice::WaitWritable(int ms) {
    int fd = fd_.load();
    if (fd < 0) return false;
    pollfd pfd{fd, POLLOUT, 0};
    int r = poll(&pfd, 1, ms < 0 ? 0 : ms);
    return r > 0 && (pfd.revents & POLLOUT);
}

int PosixSerialDevice::OutputQueued() {
    int fd = fd_.load();
    if (fd < 0) return -1;
    int queued = 0;
    if (ioctl(fd, TIOCOUTQ, &queued) != 0) return -1;
    return queued < 0 ? 0 : queued;
}

bool PosixSerialDevice::LineAction(TLineAction action) {
    int fd = fd_.load();
    if (fd < 0) return false;
    int rts = TIOCM_RTS, dtr = TIOCM_DTR;
    switch (action) {
        case TLineAction::SetXoff: return tcflow(fd, TCOOFF) == 0;
        case TLineAction::SetXon: return tcflow(fd, TCOON) == 0;
        case TLineAction::SetRts: return ioctl(fd, TIOCMBIS, &rts) == 0;
        case TLineAction::ClrRts: return ioctl(fd, TIOCMBIC, &rts) == 0;
        case TLineAction::SetDtr: return ioctl(fd, TIOCMBIS, &dtr) == 0;
        case TLineAction::ClrDtr: return ioctl(fd, TIOCMBIC, &dtr) == 0;
        case TLineAction::SetBreak: return ioctl(fd, TIOCSBRK) == 0;
        case TLineAction::ClrBreak: return ioctl(fd, TIOCCBRK) == 0;
    }
    return false;
}

bool PosixSerialDevice::ModemStatus(uint32_t& bits) {
    bits = 0;
    int fd = fd_.load();
    if (fd < 0) return false;
    int lines = 0;
    if (ioctl(fd, TIOCMGET, &lines) != 0) return false;
    if (lines & TIOCM_CTS) bits |= MS_CTS_ON;
    if (lines & TIOCM_DSR) bits |= MS_DSR_ON;
    if (lines & TIOCM_RNG) bits |= MS_RING_ON;
    if (lines & TIOCM_CAR) bits |= MS_RLSD_ON;
    return true;
}

}  // namespace tolm
