#pragma once
// What every front end of TForm1 does with the operator's input, free of any
// widget toolkit, so that the windows share one rule:
//
// - Presses, port choices and the first activation reach the form one at a
//   time. Input that arrives while the form is busy is dropped, never queued
//   behind what runs: it would start a second sequence on the same port in
//   the middle of the first, now or seconds later.
// - The form is busy while an event waits or runs (a press, the dock timer's
//   tick, a delivery of received data), and while the dock timer is armed: in
//   the second between a scanner's image and its dock's image no handler
//   runs, but the sequence is not over.
// - Waiting for a Quorin terminal's announcement is not busy: a press then
//   warns that the port is open already (E002) and stores the port again, so
//   that a terminal that stays silent never locks the operator out.
// - The first activation of the window that the form takes opens the file
//   dialog (FormActivate); later ones are not sent (Activate).
// - A close request while an upgrade runs asks first (MayClose).
//
// Thread-safety: Dispatch, Busy, Activate and MayClose are called on the front end's
// own thread; the form's handlers run on the form's main thread.
#include <atomic>
#include <functional>
#include <memory>

namespace tolm {

class TForm1;

class TFormInput {
public:
    // acrossThreads: the form runs on its own main thread (handlers are
    // posted there); else on the calling thread (tests that drive a window
    // and its form on one thread).
    TFormInput(TForm1& form, bool acrossThreads);

    // Runs handler as a form event (what escapes it is shown, as
    // TForm1::RunEvent does); false when it was dropped because the form is
    // busy. An event posted to the form's thread is dropped there too if
    // another event got in first (it would otherwise run nested inside that
    // one's message processing).
    bool Dispatch(std::function<void()> handler);
    // Runs handler as a form event unless the form is busy, without holding
    // the operator's input back while it waits (the port list read again as
    // it drops down: the item chosen next must still be taken). False when
    // the form was busy.
    bool Offer(std::function<void()> handler);
    // True while input is dropped (see above).
    bool Busy() const;

    static constexpr const char* kCloseQuestion =
        "An upgrade is running. Closing now can leave the device unusable. Close anyway?";
    // True while closing would cut an upgrade short: the form is busy, or a
    // port is open (a Quorin terminal's announcement or a dock's image may
    // follow). The end of the desktop session is refused meanwhile, with
    // this reason.
    bool UpgradeRunning() const;
    static constexpr const char* kSessionEndRefused = "Firmware upgrade in progress";
    // Decides a close request. While an upgrade runs, ask poses
    // kCloseQuestion (true for yes); a no keeps the window. A yes while the
    // upgrade still runs asks it to stop after its current exchange; the
    // window then closes, and later requests close without asking.
    // True when the window may close.
    bool MayClose(const std::function<bool()>& ask);
    // True once a close during an upgrade was confirmed.
    bool ClosedDuringUpgrade() const { return closedDuringUpgrade_; }

    // For each show or activation of the window, after it is on screen:
    // dispatches the form's activation event until the form has taken one
    // (one dropped because the form was busy is sent at a later
    // activation). True when it was taken now.
    bool Activate();
    bool Activated() const { return activated_; }

private:
    // Busy, without the events on their way to the form's thread.
    static bool FormBusy(const TForm1& form);

    TForm1& form_;
    bool acrossThreads_;
    // Set from the press until its event has ended, on whatever path it ends.
    std::shared_ptr<std::atomic<bool>> pending_;
    bool closedDuringUpgrade_ = false;
    bool activated_ = false;
};

}  // namespace tolm
