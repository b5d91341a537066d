#pragma once
// A station owns its ports for its whole run: a lock per port, beside the
// device's own lock (which a run holds only while it has the port open), so
// that a second station or an upgrade on a port a station serves is refused
// at its start instead of racing the station for the device.
//  - POSIX (Posixportowner.cpp): flock on "station-locks/COMn" (or the device
//    path's name) in the port directory; the file holds the owner's PID.
//  - Windows (Win32portowner.cpp): a named mutex per port in the session.
#include <memory>
#include <string>

namespace tolm::cli {

class TPortOwner {
public:
    // Takes port (as given to --port). Null, with why set, when another
    // station owns it.
    static std::unique_ptr<TPortOwner> Take(const std::string& port, std::string& why);
    ~TPortOwner();
    TPortOwner(const TPortOwner&) = delete;
    TPortOwner& operator=(const TPortOwner&) = delete;

    // Why port cannot be used now: a station owns it; empty when none does.
    static std::string OwnedBy(const std::string& port);

private:
    TPortOwner() = default;
    void* handle_ = nullptr;
    int fd_ = -1;
};

}  // namespace tolm::cli
