#pragma once
// The desktop window of a TForm1: it builds a widget for every control model
// of the form, binds each to its model, and hands clicks, port choices and
// the first activation to the form's handlers as events through TFormInput
// (Forminput.h), which holds what every front end shares: input is dropped
// while the form is busy, and a close request while an upgrade runs asks
// first. The program runs the form on its form thread; tests may run both on
// one thread.
//
// While an upgrade or a Quorin wait runs, the session manager's request to
// end the session is refused with the reason, as the Win32 window refuses
// it. The port list is read again as it drops down and when a serial device
// or the port directory changes (platform/Portchangewatch.h).
//
// Widgets carry their control's name as object name ("Upgrade", "ComList",
// "P_Image", ...). The file choice of TForm1::OpenDialog1 is a TFileChooser
// over this window.
#include <QWidget>

#include <functional>
#include <memory>

#include "gui/Formthread.h"
#include "gui/Forminput.h"

class QCloseEvent;
class QSessionManager;
class QSocketNotifier;

namespace tolm {

class TForm1;
class TPortChangeWatch;
struct TWidgetEntry;

class TMainWindow : public QWidget {
    Q_OBJECT

public:
    // The form runs on this thread (tests).
    explicit TMainWindow(TForm1& form, QWidget* parent = nullptr);
    // The form runs on its form thread (the program).
    explicit TMainWindow(TFormThread& formThread);
    ~TMainWindow() override;

    TForm1& Form() const { return form_; }

    // The operator's input to the form: whether it is taken now, and the
    // close decision.
    const TFormInput& Input() const { return input_; }

    // Asks TFormInput::kCloseQuestion; true for yes. Tests replace the box.
    std::function<bool()> ConfirmClose;
    // True once a close during an upgrade was confirmed.
    bool ClosedDuringUpgrade() const { return input_.ClosedDuringUpgrade(); }

    // Places the window in the middle of its screen's free area.
    void CenterOnScreen();
    // The session manager asks before the session ends (commitDataRequest).
    void AnswerSessionEnd(QSessionManager& manager);
    // Shows the window in front, with its box or dialog if one is open (a
    // second start of the program).
    void BringToFront();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TMainWindow(TForm1& form, bool acrossThreads, QWidget* parent);
    // Makes a widget for each control of the form (Formcontrols.h).
    void BuildWidgets();
    QWidget* MakeWidget(const TWidgetEntry& entry, QWidget* parent);
    void QueueFirstActivation();
    void RefreshPorts();
    void WatchPorts();
    // The click handler of a button: runs the form's handler as an event.
    std::function<void()> Forward(void (TForm1::*handler)());

    TForm1& form_;
    TFormInput input_;
    bool activationQueued_ = false;
    std::unique_ptr<TPortChangeWatch> portWatch_;
    QSocketNotifier* portNotifier_ = nullptr;
};

}  // namespace tolm
