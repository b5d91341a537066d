#pragma once
// The desktop window of a TForm1: it builds a widget for every control model
// of the form, binds each to its model, and hands clicks and the first
// activation to the form's handlers through TForm1::RunEvent, so that an
// exception escaping a handler is shown and the program goes on. A click
// that arrives while a click handler still runs is dropped.
//
// Widgets carry their control's name as object name ("Upgrade", "ComList",
// "P_Image", ...). The file choice of TForm1::OpenDialog1 is a TFileChooser
// over this window.
#include <QWidget>

#include <functional>

namespace tolm {

class TForm1;

class TMainWindow : public QWidget {
    Q_OBJECT

public:
    explicit TMainWindow(TForm1& form, QWidget* parent = nullptr);

    TForm1& Form() const { return form_; }

    // Places the window in the middle of its screen's free area.
    void CenterOnScreen();

protected:
    bool event(QEvent* event) override;

private:
    void BuildOperatorArea();
    void BuildPicturePanel();
    void BuildServiceControls();
    void SetTabOrder();
    void QueueFirstActivation();
    // The click handler of a button: runs the form's handler as an event.
    std::function<void()> Forward(void (TForm1::*handler)());

    TForm1& form_;
    bool activationQueued_ = false;
    bool handlerRunning_ = false;
};

}  // namespace tolm
