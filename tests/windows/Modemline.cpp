// A pseudo-terminal with modem-status lines, for the Windows programs under
// Wine: preloaded into Wine's processes (LD_PRELOAD), it answers the modem
// ioctls on a pseudo-terminal's slave as a serial line with a device
// attached does. A pseudo-terminal has no such lines, and Wine ends every
// WaitCommEvent on a line whose status query fails; with this library the
// wait stays pending until a byte arrives, as it does on serial.sys, usbser
// and FTDI's driver, so the tests run the path that real drivers take.
//
// TIOCMGET reports CTS, DSR and carrier on, with the DTR and RTS that
// TIOCMSET, TIOCMBIS and TIOCMBIC set (kept per pseudo-terminal in this
// process). A line whose far end has gone (the slave hung up: EIO) is left
// to fail as it does. When TOLM_MODEM_LOG names a file, every change of DTR
// or RTS is appended to it as "pts/N DTR=d RTS=r".
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

// UNIX98 pseudo-terminal slaves have majors 136 to 143.
bool IsPtySlave(int fd, dev_t& device) {
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISCHR(st.st_mode)) return false;
    device = st.st_rdev;
    return major(st.st_rdev) >= 136 && major(st.st_rdev) <= 143;
}

struct LineBits {
    dev_t device;
    int bits;
};
// Lines seen by this process; a test opens a handful.
LineBits g_lines[64];
int g_lineCount = 0;
std::mutex g_mutex;

int& BitsOf(dev_t device) {
    for (int i = 0; i < g_lineCount; ++i)
        if (g_lines[i].device == device) return g_lines[i].bits;
    const int slot = g_lineCount < 64 ? g_lineCount++ : 63;
    g_lines[slot] = {device, 0};
    return g_lines[slot].bits;
}

void Log(dev_t device, int bits) {
    const char* path = std::getenv("TOLM_MODEM_LOG");
    if (!path || !*path) return;
    char line[96];
    const int n = std::snprintf(line, sizeof line, "pts/%u DTR=%d RTS=%d\n",
                                (major(device) - 136) * 256 + minor(device), (bits & TIOCM_DTR) ? 1 : 0,
                                (bits & TIOCM_RTS) ? 1 : 0);
    const int fd = open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) return;
    (void)!write(fd, line, static_cast<size_t>(n));
    close(fd);
}

using IoctlFn = int (*)(int, unsigned long, ...);

IoctlFn RealIoctl() {
    static IoctlFn real = reinterpret_cast<IoctlFn>(dlsym(RTLD_NEXT, "ioctl"));
    return real;
}

}  // namespace

extern "C" int ioctl(int fd, unsigned long request, ...) {
    va_list args;
    va_start(args, request);
    void* arg = va_arg(args, void*);
    va_end(args);
    const int result = RealIoctl()(fd, request, arg);
    if (result == 0 || (errno != ENOTTY && errno != EINVAL)) return result;
    if (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS && request != TIOCMBIC) return result;
    dev_t device = 0;
    if (!arg || !IsPtySlave(fd, device)) return result;

    std::lock_guard lock(g_mutex);
    int& bits = BitsOf(device);
    const int before = bits;
    int* value = static_cast<int*>(arg);
    const int lines = TIOCM_DTR | TIOCM_RTS;
    switch (request) {
        case TIOCMGET: *value = bits | TIOCM_CTS | TIOCM_DSR | TIOCM_CAR; return 0;
        case TIOCMSET: bits = *value & lines; break;
        case TIOCMBIS: bits |= *value & lines; break;
        case TIOCMBIC: bits &= ~(*value & lines); break;
    }
    if (bits != before) Log(device, bits);
    return 0;
}
