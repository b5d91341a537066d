#pragma once
// A panel as the form knows it: an outer and an inner bevel of one pixel
// each, and a caption centred in what is left.
#include <QString>
#include <QWidget>

#include "gui/Formcontrols.h"

namespace tolm {

class TPanelWidget : public QWidget {
    Q_OBJECT

public:
    TPanelWidget(TBevel outer, TBevel inner, QWidget* parent = nullptr);

    TBevel OuterBevel() const { return outer_; }
    TBevel InnerBevel() const { return inner_; }
    const QString& Caption() const { return caption_; }
    void SetCaption(const QString& caption);

    // A panel without a caption lets what lies under it show (the packet
    // counter on the progress bar is empty between transfers).
    void SetClearWhenEmpty(bool clear);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    TBevel outer_;
    TBevel inner_;
    QString caption_;
    bool clearWhenEmpty_ = false;
};

}  // namespace tolm
