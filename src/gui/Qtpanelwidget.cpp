#include "gui/Qtpanelwidget.h"

#include <QPainter>
#include <QPalette>

namespace tolm {

namespace {
// Draws a one-pixel bevel on the rectangle's edge and returns what is inside it.
QRect DrawBevel(QPainter& painter, QRect rect, TBevel bevel, const QPalette& palette) {
    if (bevel == TBevel::None) return rect;
    const QColor light = palette.color(QPalette::Light);
    const QColor dark = palette.color(QPalette::Dark);
    const QColor topLeft = bevel == TBevel::Raised ? light : dark;
    const QColor bottomRight = bevel == TBevel::Raised ? dark : light;
    painter.setPen(topLeft);
    painter.drawLine(rect.topLeft(), rect.topRight());
    painter.drawLine(rect.topLeft(), rect.bottomLeft());
    painter.setPen(bottomRight);
    painter.drawLine(rect.bottomLeft(), rect.bottomRight());
    painter.drawLine(rect.topRight(), rect.bottomRight());
    return rect.adjusted(1, 1, -1, -1);
}
}  // namespace

TPanelWidget::TPanelWidget(TBevel outer, TBevel inner, QWidget* parent)
    : QWidget(parent), outer_(outer), inner_(inner) {
    // A panel hides what lies under it (PBar_num sits on the progress bar).
    setAutoFillBackground(true);
}

void TPanelWidget::SetCaption(const QString& caption) {
    if (caption_ == caption) return;
    caption_ = caption;
    if (clearWhenEmpty_) setAutoFillBackground(!caption_.isEmpty());
    update();
}

void TPanelWidget::SetClearWhenEmpty(bool clear) {
    clearWhenEmpty_ = clear;
    setAutoFillBackground(!clear || !caption_.isEmpty());
    update();
}

void TPanelWidget::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    QRect inside = DrawBevel(painter, rect(), outer_, palette());
    inside = DrawBevel(painter, inside, inner_, palette());
    if (!caption_.isEmpty()) {
        painter.setPen(palette().color(QPalette::WindowText));
        painter.drawText(inside, Qt::AlignCenter | Qt::TextSingleLine, caption_);
    }
}

}  // namespace tolm
