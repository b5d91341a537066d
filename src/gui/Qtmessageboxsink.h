#pragma once
// Operator messages as Qt message boxes: the caption and icon given, one
// OK button. ShowMessage arrives here with the application title as caption.
// How a message reaches the GUI thread is shared (Guimessagesink.h).
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>

#include "gui/Guimessagesink.h"

namespace tolm {

class TMessageBoxSink : public TGuiMessageSink {
public:
    // Shows the prepared box; the default runs it modally (exec()). Tests
    // pass one that looks at the box instead of waiting for a click.
    using Runner = std::function<void(QMessageBox&)>;

    explicit TMessageBoxSink(Runner runner = {});

    // The window the boxes are modal over (may be null, or go away).
    void SetParent(QWidget* parent) { parent_ = parent; }

    static QMessageBox::Icon ToQtIcon(TMsgIcon icon);

protected:
    void ShowBox(const std::string& text, const std::string& caption, TMsgIcon icon) override;

private:
    Runner runner_;
    QPointer<QWidget> parent_;
};

}  // namespace tolm
