#pragma once
// Operator messages as modal message boxes: the caption and icon given, one
// OK button. ShowMessage arrives here with the application title as caption.
// A message from the form thread is shown by the GUI thread while the form
// thread waits for the box to close: no other handler, delivery of received
// data or timer of the form runs under an open box.
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <atomic>
#include <functional>

#include "toolkit/Messages.h"

namespace tolm {

class TMessageBoxSink : public IMessageSink {
public:
    // Shows the prepared box; the default runs it modally (exec()). Tests
    // pass one that looks at the box instead of waiting for a click.
    using Runner = std::function<void(QMessageBox&)>;

    explicit TMessageBoxSink(Runner runner = {});

    // The window the boxes are modal over (may be null, or go away).
    void SetParent(QWidget* parent) { parent_ = parent; }

    void Show(const std::string& text, const std::string& caption, TMsgIcon icon) override;

    // Once the window is closing, messages go to stderr instead of boxes.
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    static QMessageBox::Icon ToQtIcon(TMsgIcon icon);

private:
    Runner runner_;
    QPointer<QWidget> parent_;
    std::atomic<bool> quiet_{false};
};

}  // namespace tolm
