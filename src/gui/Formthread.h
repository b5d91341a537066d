#pragma once
// The form thread of the desktop program: TForm1 is made, runs every handler
// and is destroyed on a thread of its own, which the toolkit treats as its
// main thread (synchronised calls, posted calls, timers, ProcessMessages and
// the delivery of received data). A send-and-wait exchange blocks only that
// thread, so the GUI thread stays free to paint and to answer the desktop.
// Operator input reaches the form through TFormInput (Forminput.h).
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

namespace tolm {

class TForm1;
class TTolmSerialComm;

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
