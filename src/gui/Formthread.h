#pragma once
// The form thread of the desktop program: TForm1 is made, runs every handler
// and is destroyed on a thread of its own, which the toolkit treats as its
// main thread (synchronised calls, posted calls, timers, ProcessMessages and
// the delivery of received data). A send-and-wait exchange blocks only that
// thread, so the GUI thread stays free to paint and to answer the desktop.
//
// TFormInput hands operator input to the form: one event at a time, and
// input that arrives while one runs is dropped, never queued behind it.
#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tolm {

class TForm1;
class TTolmSerialComm;

class TFormInput {
public:
    // acrossThreads: the form runs on the form thread (posted there); else
    // on the calling thread (tests that drive the window and form together).
    explicit TFormInput(bool acrossThreads);

    // Runs handler as a form event (exceptions shown, as TForm1::RunEvent
    // does); false when it was dropped because another event runs or waits.
    bool Dispatch(std::function<void()> handler);
    // True while a dispatched event waits or runs, or the form thread runs
    // any other event (a timer, a delivery of received data).
    bool Busy() const;

private:
    bool acrossThreads_;
    std::shared_ptr<std::atomic<bool>> pending_;
};

class TFormThread {
public:
    // Starts the thread and returns once the form is made there (an exception
    // from its construction is rethrown here). The form's message loop starts
    // with Run(), so that the window can bind to the form first.
    TFormThread();
    ~TFormThread();  // Stop()
    TFormThread(const TFormThread&) = delete;
    TFormThread& operator=(const TFormThread&) = delete;

    // The form, for binding before Run() and for the window's thread-safe
    // queries (its serial component's state and stop request).
    TForm1& Form() { return *form_; }
    void Run();
    // Asks a running upgrade to stop after its current exchange, ends the
    // form's loop once the handler has returned, destroys the form (closing
    // its ports) and joins the thread. The calling GUI thread keeps running
    // its events meanwhile, so that a box the form still shows is served.
    void Stop();
    // What escaped the form thread's message loop, if anything (after Stop()).
    std::exception_ptr Error() const { return error_; }

private:
    void Body();
    bool QuitAsked();

    std::thread thread_;
    std::unique_ptr<TForm1> form_;
    TTolmSerialComm* comm_ = nullptr;
    std::exception_ptr error_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool created_ = false;
    bool running_ = false;
    bool quit_ = false;
    bool finished_ = false;
};

}  // namespace tolm
