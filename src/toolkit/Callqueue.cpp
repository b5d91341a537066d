#include "toolkit/Callqueue.h"

#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>
#include <system_error>

#include "toolkit/Messages.h"

namespace tolm {

TCallQueue::TCallQueue() : thread_(std::this_thread::get_id()) {
    fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
    notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(), [this] {
        uint64_t count = 0;
        (void)!read(fd_, &count, sizeof count);
        RunPending();
    });
}

TCallQueue::~TCallQueue() {
    notifier_.reset();
    close(fd_);
}

void TCallQueue::Post(std::function<void()> fn) {
    {
        std::lock_guard lock(mutex_);
        calls_.push_back(std::move(fn));
    }
    const uint64_t one = 1;
    (void)!write(fd_, &one, sizeof one);
}

void TCallQueue::RunPending() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(calls_);
    }
    for (auto& call : calls) {
        try {
            call();
        } catch (const std::exception& e) {
            ShowMessage(e.what());
        } catch (...) {
            ShowMessage("Unknown exception");
        }
    }
}

}  // namespace tolm
