#pragma once
// One window per desktop: the first start of the program listens on a local
// socket named after the user and the display; a later start on the same
// display finds it there, asks it to come to the front, and ends, instead of
// opening a copy on top of it. A lock file beside the socket decides which
// start is the first, also when two start at once; a lock left by a program
// that died is taken over.
#include <QLocalServer>
#include <QLockFile>

#include <functional>
#include <memory>

namespace tolm {

class TSingleWindow {
public:
    TSingleWindow();
    ~TSingleWindow();
    TSingleWindow(const TSingleWindow&) = delete;
    TSingleWindow& operator=(const TSingleWindow&) = delete;

    // True when this start is the first: it then listens, and onLaterStart
    // runs (on this thread) each time another start asks. False when another
    // start has the window; it was asked to come to the front.
    bool First(std::function<void()> onLaterStart);

private:
    std::unique_ptr<QLockFile> lock_;
    QLocalServer server_;
    std::function<void()> onLaterStart_;
};

}  // namespace tolm
