// The GUI thread's event loop in the Qt window: woken through an eventfd that
// the loop watches.
#include "gui/Guiloop.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QSocketNotifier>

#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>

namespace tolm {

namespace {
class TQtGuiLoop : public TGuiLoop {
public:
    // Made on the GUI thread (the notifier belongs to that thread's loop).
    explicit TQtGuiLoop(std::function<void()> runCalls) {
        fd_ = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
        if (fd_ < 0) throw std::system_error(errno, std::generic_category(), "eventfd");
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, notifier_.get(),
                         [this, runCalls = std::move(runCalls)] {
                             uint64_t count = 0;
                             (void)!read(fd_, &count, sizeof count);
                             runCalls();
                         });
    }

    void Wake() override {
        const uint64_t one = 1;
        (void)!write(fd_, &one, sizeof one);
    }

    void Serve(int maxWaitMs) override { QCoreApplication::processEvents(QEventLoop::AllEvents, maxWaitMs); }

    void Quit(int exitCode) override { QCoreApplication::exit(exitCode); }

private:
    int fd_ = -1;
    std::unique_ptr<QSocketNotifier> notifier_;
};
}  // namespace

std::unique_ptr<TGuiLoop> MakeGuiLoop(std::function<void()> runCalls) {
    return std::make_unique<TQtGuiLoop>(std::move(runCalls));
}

}  // namespace tolm
