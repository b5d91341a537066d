#include "serial/Portwait.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <ctime>
#include <thread>

namespace tolm {

static_assert(kWaitInput == POLLIN && kWaitError == POLLERR && kWaitHangUp == POLLHUP && kWaitInvalid == POLLNVAL);

TWakeup::TWakeup() : fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {}

TWakeup::~TWakeup() {
    if (fd_ >= 0) ::close(fd_);
}

void TWakeup::Signal() {
    if (fd_ < 0) return;
    uint64_t one = 1;
    // A full counter (never in practice) is as good as a signal.
    while (::write(fd_, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TWakeup::Drain() {
    if (fd_ < 0) return;
    uint64_t count;
    while (::read(fd_, &count, sizeof count) < 0 && errno == EINTR) {
    }
}

TInputWaitResult WaitForInput(const std::vector<int>& fds, TWakeup& wakeup, std::chrono::nanoseconds timeout) {
    using namespace std::chrono;
    TInputWaitResult result;
    result.Events.assign(fds.size(), 0);

    std::vector<pollfd> set;
    set.reserve(fds.size() + 1);
    for (int fd : fds) set.push_back({fd, POLLIN, 0});
    set.push_back({wakeup.Fd(), POLLIN, 0});  // a negative descriptor is skipped by poll

    const auto deadline = steady_clock::now() + std::max(timeout, nanoseconds(0));
    while (true) {
        auto left = std::max(deadline - steady_clock::now(), steady_clock::duration(0));
        auto secs = duration_cast<seconds>(left);
        timespec ts{static_cast<time_t>(secs.count()), static_cast<long>(duration_cast<nanoseconds>(left - secs).count())};
        int r = ppoll(set.data(), set.size(), &ts, nullptr);
        if (r >= 0) break;
        if (errno == EINTR) continue;
        // Cannot wait on the descriptors (never expected): let the time pass
        // rather than return at once into a busy loop.
        for (auto& p : set) p.revents = 0;
        std::this_thread::sleep_for(left);
        break;
    }
    for (size_t i = 0; i < fds.size(); ++i) result.Events[i] = set[i].revents;
    if (set.back().revents & POLLIN) {
        wakeup.Drain();
        result.Woken = true;
    }
    return result;
}

}  // namespace tolm
