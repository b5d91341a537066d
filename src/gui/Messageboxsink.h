#pragma once
// Operator messages as modal message boxes: the caption and icon given, one
// OK button. ShowMessage arrives here with the application title as caption.
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

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

    static QMessageBox::Icon ToQtIcon(TMsgIcon icon);

private:
    Runner runner_;
    QPointer<QWidget> parent_;
};

}  // namespace tolm
