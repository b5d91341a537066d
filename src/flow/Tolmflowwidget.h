#pragma once
// A widget that shows a flow diagram and repaints when the diagram asks.
// It does not own the diagram, which must outlive it.
#include <QWidget>

#include "flow/Tolmflow.h"

namespace tolm {

class TTolmFlowWidget : public QWidget {
public:
    explicit TTolmFlowWidget(TTolmFlow& flow, QWidget* parent = nullptr);
    ~TTolmFlowWidget() override;

    TTolmFlow& Flow() const { return flow_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TTolmFlow& flow_;
    int observerId_;
};

}  // namespace tolm
