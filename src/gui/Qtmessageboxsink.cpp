#include "gui/Qtmessageboxsink.h"

namespace tolm {

TMessageBoxSink::TMessageBoxSink(Runner runner) : runner_(std::move(runner)) {}

QMessageBox::Icon TMessageBoxSink::ToQtIcon(TMsgIcon icon) {
    switch (icon) {
    case TMsgIcon::Information:
        return QMessageBox::Information;
    case TMsgIcon::Warning:
        return QMessageBox::Warning;
    case TMsgIcon::Error:
        return QMessageBox::Critical;
    case TMsgIcon::Question:
        return QMessageBox::Question;
    case TMsgIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

void TMessageBoxSink::ShowBox(const std::string& text, const std::string& caption, TMsgIcon icon) {
    QMessageBox box(ToQtIcon(icon), QString::fromStdString(caption), QString::fromStdString(text),
                    QMessageBox::Ok, parent_.data());
    // Operator texts and file names are shown as written, never as markup.
    box.setTextFormat(Qt::PlainText);
    if (runner_)
        runner_(box);
    else
        box.exec();
}

}  // namespace tolm
