#include "platform/Portchangewatch.h"

#include <sys/epoll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <string>

#ifdef TOLM_HAVE_LIBUDEV
#include <libudev.h>
#endif

#include "platform/Portmap.h"

namespace tolm {

namespace {
// The names under /dev of the devices a port can reach.
bool SerialNodeName(const char* name) {
    return !std::strncmp(name, "tty", 3) || !std::strncmp(name, "rfcomm", 6);
}
}  // namespace

struct TPortChangeWatch::TImpl {
    int epoll = -1;
    int inotify = -1;
    int portDirWatch = -1;
#ifdef TOLM_HAVE_LIBUDEV
    struct udev* udev = nullptr;
    struct udev_monitor* monitor = nullptr;
#endif

    void Add(int fd) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.fd = fd;
        epoll_ctl(epoll, EPOLL_CTL_ADD, fd, &event);
    }

    bool TakeNotices() {
        bool changed = false;
        alignas(inotify_event) char buffer[4096];
        ssize_t got;
        while ((got = read(inotify, buffer, sizeof buffer)) > 0) {
            for (char* at = buffer; at < buffer + got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(at);
                // Every entry of the port directory counts; in /dev only tty nodes.
                if (event->wd == portDirWatch || (event->len > 0 && SerialNodeName(event->name))) changed = true;
                at += sizeof(inotify_event) + event->len;
            }
        }
        return changed;
    }

    bool TakeDeviceEvents() {
        bool changed = false;
#ifdef TOLM_HAVE_LIBUDEV
        if (!monitor) return false;
        while (struct udev_device* device = udev_monitor_receive_device(monitor)) {
            changed = true;
            udev_device_unref(device);
        }
#endif
        return changed;
    }
};

TPortChangeWatch::TPortChangeWatch() : impl_(std::make_unique<TImpl>()) {
    TImpl& w = *impl_;
    w.epoll = epoll_create1(EPOLL_CLOEXEC);
    if (w.epoll < 0) return;
    w.inotify = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (w.inotify >= 0) {
        constexpr uint32_t kComeAndGo = IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
        const std::string portDir = PortMap::PortDirectory();
        if (!portDir.empty()) w.portDirWatch = inotify_add_watch(w.inotify, portDir.c_str(), kComeAndGo);
        inotify_add_watch(w.inotify, "/dev", kComeAndGo);
        w.Add(w.inotify);
    }
#ifdef TOLM_HAVE_LIBUDEV
    // Events after udev has made the device's node and links.
    w.udev = udev_new();
    if (w.udev) w.monitor = udev_monitor_new_from_netlink(w.udev, "udev");
    if (w.monitor && udev_monitor_filter_add_match_subsystem_devtype(w.monitor, "tty", nullptr) >= 0 &&
        udev_monitor_enable_receiving(w.monitor) >= 0) {
        w.Add(udev_monitor_get_fd(w.monitor));
    } else if (w.monitor) {
        udev_monitor_unref(w.monitor);
        w.monitor = nullptr;
    }
#endif
}

TPortChangeWatch::~TPortChangeWatch() {
#ifdef TOLM_HAVE_LIBUDEV
    if (impl_->monitor) udev_monitor_unref(impl_->monitor);
    if (impl_->udev) udev_unref(impl_->udev);
#endif
    if (impl_->inotify >= 0) close(impl_->inotify);
    if (impl_->epoll >= 0) close(impl_->epoll);
}

int TPortChangeWatch::Fd() const { return impl_->epoll; }

bool TPortChangeWatch::TakeChanges() {
    if (impl_->epoll < 0) return false;
    // Both are read whole: a source left unread would keep the descriptor readable.
    const bool notices = impl_->inotify >= 0 && impl_->TakeNotices();
    const bool events = impl_->TakeDeviceEvents();
    return notices || events;
}

}  // namespace tolm
