#pragma once
// Tells the window that its port list may be out of date: a serial device
// came or went (an adapter plugged in or out, a Bluetooth link made), or an
// entry of the port directory did (a port linked, unlinked, numbered). It
// says only that something changed; the list is then read again from the
// device tree.
//
// Linux: the kernel's device events for tty devices through udev's monitor
// (when the build has libudev), and inotify on the port directory and on
// /dev for tty nodes (which also covers a system without udev). Windows sends
// its windows WM_DEVICECHANGE instead, so there is no Windows backend.
//
// Thread-safety: an object is used by one thread.
#include <memory>

namespace tolm {

class TPortChangeWatch {
public:
    TPortChangeWatch();
    ~TPortChangeWatch();
    TPortChangeWatch(const TPortChangeWatch&) = delete;
    TPortChangeWatch& operator=(const TPortChangeWatch&) = delete;

    // A descriptor that turns readable when something came; -1 when there is
    // nothing to watch with.
    int Fd() const;
    // Reads what came, without waiting; true when a port may have come or gone.
    bool TakeChanges();

private:
    struct TImpl;
    std::unique_ptr<TImpl> impl_;
};

}  // namespace tolm
