#include "flow/Tolmflowwidget.h"

#include <QPainter>
#include <QPaintEvent>

#include <algorithm>

#include "flow/Tolmflowpainter.h"

namespace tolm {

TTolmFlowWidget::TTolmFlowWidget(TTolmFlow& flow, QWidget* parent) : QWidget(parent), flow_(flow) {
    setAttribute(Qt::WA_OpaquePaintEvent);
    observerId_ = flow_.AddRepaintObserver([this] { update(); });
}

TTolmFlowWidget::~TTolmFlowWidget() { flow_.RemoveRepaintObserver(observerId_); }

QSize TTolmFlowWidget::sizeHint() const {
    const TFlowRect extent = DiagramExtent(flow_);
    return {std::max(extent.Right + 10, 200), std::max(extent.Bottom + 10, 150)};
}

void TTolmFlowWidget::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    PaintTolmFlow(painter, flow_, event->rect());
}

}  // namespace tolm
