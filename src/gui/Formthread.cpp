#include "gui/Formthread.h"

#include <chrono>

#include "app/Unit1.h"
#include "gui/Guithread.h"
#include "toolkit/MainThread.h"

namespace tolm {

namespace {
// How long the form thread's loop sleeps when nothing comes; a posted call
// or a timer wakes it earlier.
constexpr int kIdleWaitMs = 1000;
}  // namespace

TFormThread::TFormThread() {
    InitGuiThread();
    thread_ = std::thread([this] { Body(); });
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return created_; });
    if (!form_) {
        lock.unlock();
        thread_.join();
        std::rethrow_exception(error_);
    }
    comm_ = &form_->TolmSerialComm1;
}

TFormThread::~TFormThread() { Stop(); }

void TFormThread::Body() {
    // Nothing may escape this thread: std::terminate would end the program
    // while the GUI thread waits for the form. What fails at start-up is
    // handed to the constructor, which rethrows it on the GUI thread.
    std::unique_ptr<TForm1> form;
    std::exception_ptr error;
    try {
        MarkMainThread();
        form = std::make_unique<TForm1>();
    } catch (...) {
        error = std::current_exception();
    }
    bool run = false;
    {
        std::unique_lock lock(mutex_);
        form_ = std::move(form);
        error_ = error;
        created_ = true;
        changed_.notify_all();
        if (form_) {
            changed_.wait(lock, [this] { return running_ || quit_; });
            run = !quit_;
        }
    }
    if (run) {
        try {
            // Until Stop(): a stop asked while a handler runs (inside its
            // ProcessMessages) ends the loop once the handler has returned.
            while (!QuitAsked()) WaitMessages(kIdleWaitMs);
        } catch (...) {
            // What escapes a handler is shown by RunEvent; this escaped the
            // loop itself: the program ends, as it would on a single thread.
            std::lock_guard lock(mutex_);
            error_ = std::current_exception();
            QuitGuiThread(1);
        }
    }
    form_.reset();
    ReleaseMainThread();  // does nothing when the mark failed
    std::lock_guard lock(mutex_);
    finished_ = true;
}

bool TFormThread::QuitAsked() {
    std::lock_guard lock(mutex_);
    return quit_;
}

void TFormThread::Run() {
    std::lock_guard lock(mutex_);
    running_ = true;
    changed_.notify_all();
}

void TFormThread::Stop() {
    if (!thread_.joinable()) return;
    if (comm_) comm_->RequestStop();
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
        changed_.notify_all();
    }
    PostToMainThread([] {});  // wakes the form thread's loop to see the stop
    for (;;) {
        {
            std::lock_guard lock(mutex_);
            if (finished_) break;
        }
        ServeGuiThread(10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    thread_.join();
}

}  // namespace tolm
