#pragma once
// The desktop window of a TForm1: it builds a widget for every control model
// of the form, binds each to its model, and hands clicks, port choices and
// the first activation to the form's handlers as events (TFormInput), so
// that an exception escaping a handler is shown and the program goes on.
// Input that arrives while a handler runs is dropped. The program runs the
// form on its form thread; tests may run both on one thread.
//
// A close request while an upgrade runs (a handler runs, or a port is open:
// a Quorin terminal's announcement or a docking station's image may follow)
// asks first; a yes stops the upgrade after its current exchange.
//
// Widgets carry their control's name as object name ("Upgrade", "ComList",
// "P_Image", ...). The file choice of TForm1::OpenDialog1 is a TFileChooser
// over this window.
#include <QWidget>

#include <functional>

#include "gui/Formthread.h"

class QCloseEvent;

namespace tolm {

class TForm1;
struct TWidgetSpec;

class TMainWindow : public QWidget {
    Q_OBJECT

public:
    // The form runs on this thread (tests).
    explicit TMainWindow(TForm1& form, QWidget* parent = nullptr);
    // The form runs on its form thread (the program).
    explicit TMainWindow(TFormThread& formThread);

    TForm1& Form() const { return form_; }

    static constexpr const char* kCloseQuestion =
        "An upgrade is running. Closing now can leave the device unusable. Close anyway?";
    // Asks kCloseQuestion; true for yes. Tests replace the box.
    std::function<bool()> ConfirmClose;
    // True once a close during an upgrade was confirmed.
    bool ClosedDuringUpgrade() const { return closedDuringUpgrade_; }

    // Places the window in the middle of its screen's free area.
    void CenterOnScreen();

protected:
    bool event(QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    TMainWindow(TForm1& form, bool acrossThreads, QWidget* parent);
    bool UpgradeRunning() const;
    // Makes a widget for each control of the form (Formcontrols.h).
    void BuildWidgets();
    QWidget* MakeWidget(const TWidgetSpec& spec, QWidget* parent);
    void QueueFirstActivation();
    // The click handler of a button: runs the form's handler as an event.
    std::function<void()> Forward(void (TForm1::*handler)());

    TForm1& form_;
    TFormInput input_;
    bool activationQueued_ = false;
    bool activated_ = false;
    bool closedDuringUpgrade_ = false;
};

}  // namespace tolm
