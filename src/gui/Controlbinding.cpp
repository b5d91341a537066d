#include "gui/Controlbinding.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>

#include <initializer_list>
#include <memory>

#include "gui/Panelwidget.h"
#include "gui/Pictures.h"

namespace tolm {

namespace {

QString ToQString(const std::string& text) { return QString::fromStdString(text); }

// Paints the widget now if it is on screen: the event loop may not run
// before the logic's next step.
void ShowNow(QWidget* widget) {
    if (widget->isVisible()) widget->repaint();
}

// Applies what every control has: place, visibility, enabled state, repaint.
// Returns false for the changes left to the kind-specific part.
bool ApplyCommon(const TControl& model, QWidget* widget, TChange change) {
    switch (change) {
    case TChange::Bounds:
        widget->setGeometry(model.Left(), model.Top(), model.Width(), model.Height());
        ShowNow(widget->parentWidget() ? widget->parentWidget() : widget);
        return true;
    case TChange::Visible:
        widget->setVisible(model.Visible());
        return true;
    case TChange::Enabled:
        widget->setEnabled(model.Enabled());
        return true;
    case TChange::Repaint:
        widget->repaint();
        return true;
    default:
        return false;
    }
}

// Applies the model's current state for the given changes, then follows the
// model. apply handles one change for a widget that still exists.
template <typename Widget>
void Follow(TControl& model, Widget* widget, std::initializer_list<TChange> initial,
            std::function<void(Widget*, TChange)> apply) {
    for (TChange change : initial) apply(widget, change);
    QPointer<Widget> guard(widget);
    model.AddObserver([guard, apply](TControl&, TChange change) {
        if (guard) apply(guard.data(), change);
    });
}

constexpr std::initializer_list<TChange> kControlState = {TChange::Bounds, TChange::Visible, TChange::Enabled,
                                                          TChange::Caption};

}  // namespace

void BindForm(TPanel& model, QWidget* window) {
    Follow<QWidget>(model, window, {TChange::Caption, TChange::Bounds, TChange::Enabled},
                    [&model](QWidget* w, TChange change) {
                        switch (change) {
                        case TChange::Caption:
                            w->setWindowTitle(ToQString(model.Caption()));
                            break;
                        case TChange::Bounds:
                            // The window's size is its client area; it cannot be resized.
                            w->setFixedSize(model.Width(), model.Height());
                            break;
                        case TChange::Enabled:
                            w->setEnabled(model.Enabled());
                            break;
                        case TChange::Repaint:
                            w->repaint();
                            break;
                        default:
                            // The window's visibility and place are its own (shown
                            // by the program, centred on the screen).
                            break;
                        }
                    });
}

void BindLabel(TLabel& model, QLabel* label) {
    label->setTextFormat(Qt::PlainText);
    Follow<QLabel>(model, label, kControlState, [&model](QLabel* w, TChange change) {
        if (ApplyCommon(model, w, change)) return;
        if (change == TChange::Caption) {
            w->setText(ToQString(model.Caption()));
            ShowNow(w);
        }
    });
}

void BindPanel(TPanel& model, TPanelWidget* panel) {
    Follow<TPanelWidget>(model, panel, kControlState, [&model](TPanelWidget* w, TChange change) {
        if (ApplyCommon(model, w, change)) return;
        if (change == TChange::Caption) {
            w->SetCaption(ToQString(model.Caption()));
            ShowNow(w);
        }
    });
}

void BindProgressBar(TProgressBar& model, QProgressBar* bar) {
    Follow<QProgressBar>(model, bar, {TChange::Bounds, TChange::Visible, TChange::Enabled, TChange::Range,
                                      TChange::Position},
                         [&model](QProgressBar* w, TChange change) {
                             if (ApplyCommon(model, w, change)) return;
                             if (change == TChange::Range) {
                                 w->setRange(model.Min(), model.Max());
                                 w->setValue(model.Position());
                                 ShowNow(w);
                             } else if (change == TChange::Position) {
                                 // The bar paints itself at once when the step shows.
                                 w->setValue(model.Position());
                             }
                         });
}

void BindImage(TImage& model, QLabel* label) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Follow<QLabel>(model, label, {TChange::Bounds, TChange::Visible, TChange::Enabled, TChange::Picture},
                   [&model](QLabel* w, TChange change) {
                       if (ApplyCommon(model, w, change)) return;
                       if (change == TChange::Picture) {
                           w->setScaledContents(model.Stretch);
                           const QPixmap picture = Picture(model.Picture());
                           if (picture.isNull())
                               w->clear();
                           else
                               w->setPixmap(picture);
                           ShowNow(w);
                       }
                   });
}

void BindButton(TButton& model, QAbstractButton* button, std::function<void()> onClick) {
    Follow<QAbstractButton>(model, button, kControlState, [&model](QAbstractButton* w, TChange change) {
        if (ApplyCommon(model, w, change)) return;
        if (change == TChange::Caption) {
            w->setText(ToQString(model.Caption()));
            ShowNow(w);
        }
    });
    QObject::connect(button, &QAbstractButton::clicked, button, [onClick = std::move(onClick)] {
        if (onClick) onClick();
    });
}

void BindComboBox(TComboBox& model, QComboBox* box) {
    // Set while one side writes to the other, so that neither echoes back.
    auto syncing = std::make_shared<bool>(false);
    struct Guard {
        bool& flag;
        explicit Guard(bool& f) : flag(f) { flag = true; }
        ~Guard() { flag = false; }
    };

    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: what the operator types stays as typed.
    box->setCompleter(nullptr);

    auto showSelection = [&model](QComboBox* w) {
        const int index = model.ItemIndex();
        w->setCurrentIndex(index);
        w->setEditText(index >= 0 ? w->itemText(index) : ToQString(model.Caption()));
    };

    Follow<QComboBox>(model, box, {TChange::Bounds, TChange::Visible, TChange::Enabled, TChange::Items},
                      [&model, syncing, showSelection](QComboBox* w, TChange change) {
                          if (ApplyCommon(model, w, change) || *syncing) return;
                          Guard guard(*syncing);
                          switch (change) {
                          case TChange::Items: {
                              w->clear();
                              for (const std::string& item : model.Items()) w->addItem(ToQString(item));
                              showSelection(w);
                              break;
                          }
                          case TChange::ItemIndex:
                              showSelection(w);
                              break;
                          case TChange::Caption:
                              if (model.ItemIndex() < 0) w->setEditText(ToQString(model.Caption()));
                              break;
                          default:
                              return;
                          }
                          ShowNow(w);
                      });

    auto choose = [&model, syncing](int index) {
        if (*syncing) return;
        Guard guard(*syncing);
        model.SetItemIndex(index);
    };
    // activated: the operator picked an item (also the one already current).
    QObject::connect(box, &QComboBox::activated, box, choose);
    QObject::connect(box, &QComboBox::currentIndexChanged, box, choose);
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box, [&model, syncing](const QString& text) {
        if (*syncing) return;
        Guard guard(*syncing);
        model.SetCaption(text.toStdString());
        model.SetItemIndex(-1);
    });
}

}  // namespace tolm
