#include "gui/Forminput.h"

#include <utility>

#include "app/Unit1.h"
#include "toolkit/MainThread.h"

namespace tolm {

namespace {
// Clears the pending flag when the event ends, also when something escapes
// it (a box that could not be shown, an exception of no known kind): a flag
// left set would drop every later press.
class TPendingClear {
public:
    explicit TPendingClear(std::shared_ptr<std::atomic<bool>> pending) : pending_(std::move(pending)) {}
    ~TPendingClear() { pending_->store(false); }
    TPendingClear(const TPendingClear&) = delete;
    TPendingClear& operator=(const TPendingClear&) = delete;

private:
    std::shared_ptr<std::atomic<bool>> pending_;
};
}  // namespace

TFormInput::TFormInput(TForm1& form, bool acrossThreads)
    : form_(form), acrossThreads_(acrossThreads), pending_(std::make_shared<std::atomic<bool>>(false)) {}

bool TFormInput::FormBusy(const TForm1& form) {
    // Each state below is entered before the one before it ends: a press's
    // handler arms the dock timer and then returns; the timer's tick starts
    // its handler and then disarms the timer. Read once in that order, a
    // handover could fall between two reads and look idle; the second look
    // at the handlers closes that gap.
    return EventHandlerRunning() || form.Docking_Times.Enabled() || EventHandlerRunning();
}

bool TFormInput::Busy() const { return pending_->load() || FormBusy(form_); }

bool TFormInput::Dispatch(std::function<void()> handler) {
    if (Busy()) return false;
    pending_->store(true);
    auto run = [form = &form_, pending = pending_, handler = std::move(handler)] {
        const TPendingClear clear(pending);
        if (FormBusy(*form)) {
            // Another event started after the press was checked and runs its
            // messages now. The front end already shows a dropped port
            // choice: show it the form's own again.
            form->ComList.SetItemIndex(form->ComList.ItemIndex());
            return;
        }
        const TEventScope event;
        TForm1::RunEvent(handler);
    };
    if (acrossThreads_)
        PostToMainThread(std::move(run));
    else
        run();
    return true;
}

bool TFormInput::Offer(std::function<void()> handler) {
    if (Busy()) return false;
    auto run = [form = &form_, handler = std::move(handler)] {
        if (FormBusy(*form)) return;
        const TEventScope event;
        TForm1::RunEvent(handler);
    };
    if (acrossThreads_)
        PostToMainThread(std::move(run));
    else
        run();
    return true;
}

bool TFormInput::UpgradeRunning() const { return Busy() || form_.TolmSerialComm1.AnyPortOpen(); }

bool TFormInput::MayClose(const std::function<bool()>& ask) {
    if (closedDuringUpgrade_ || !UpgradeRunning()) return true;
    // The transfer goes on while the question is open.
    if (!ask || !ask()) return false;
    // Checked again: the upgrade may have ended while the question was open.
    if (UpgradeRunning()) {
        closedDuringUpgrade_ = true;
        form_.TolmSerialComm1.RequestStop();
    }
    return true;
}

bool TFormInput::Activate() {
    if (activated_) return false;
    TForm1* form = &form_;
    activated_ = Dispatch([form] { form->FormActivate(); });
    return activated_;
}

}  // namespace tolm
