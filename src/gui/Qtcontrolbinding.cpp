#include "gui/Qtcontrolbinding.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "gui/Guithread.h"
#include "gui/Qtpanelwidget.h"
#include "gui/Qtpictures.h"

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
bool ApplyCommon(const TControlState& s, QWidget* widget, TChange change) {
    switch (change) {
    case TChange::Bounds:
        widget->setGeometry(s.left, s.top, s.width, s.height);
        ShowNow(widget->parentWidget() ? widget->parentWidget() : widget);
        return true;
    case TChange::Visible:
        widget->setVisible(s.visible);
        return true;
    case TChange::Enabled:
        widget->setEnabled(s.enabled);
        return true;
    case TChange::Repaint:
        widget->repaint();
        return true;
    default:
        return false;
    }
}

template <typename Widget>
using Apply = std::function<void(Widget*, TChange, const TControlState&)>;

// Follows the model (Controlstate.h) with apply run for a widget that still exists.
template <typename Widget>
std::shared_ptr<const TControlState> Follow(TControl& model, Widget* widget, std::initializer_list<TChange> initial,
                                            Apply<Widget> apply) {
    QPointer<Widget> guard(widget);
    return FollowControl(model, initial, [guard, apply](TChange change, const TControlState& state) {
        if (guard) apply(guard.data(), change, state);
    });
}

}  // namespace

void BindForm(TPanel& model, QWidget* window) {
    Follow<QWidget>(model, window, kFormState,
                    [](QWidget* w, TChange change, const TControlState& s) {
                        switch (change) {
                        case TChange::Caption:
                            w->setWindowTitle(ToQString(s.caption));
                            break;
                        case TChange::Bounds:
                            // The window's size is its client area; it cannot be resized.
                            w->setFixedSize(s.width, s.height);
                            break;
                        case TChange::Enabled:
                            w->setEnabled(s.enabled);
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
    Follow<QLabel>(model, label, kControlState, [](QLabel* w, TChange change, const TControlState& s) {
        if (change == TChange::Bounds) {
            // A label shows its font's whole line, the tails of "p" and "g"
            // included, where the form's height is less.
            w->setGeometry(s.left, s.top, s.width, std::max(s.height, w->fontMetrics().height()));
            ShowNow(w->parentWidget() ? w->parentWidget() : w);
            return;
        }
        if (ApplyCommon(s, w, change)) return;
        if (change == TChange::Caption) {
            w->setText(ToQString(s.caption));
            ShowNow(w);
        }
    });
}

void BindPanel(TPanel& model, TPanelWidget* panel) {
    Follow<TPanelWidget>(model, panel, kControlState, [](TPanelWidget* w, TChange change, const TControlState& s) {
        if (ApplyCommon(s, w, change)) return;
        if (change == TChange::Caption) {
            w->SetCaption(ToQString(s.caption));
            ShowNow(w);
        }
    });
}

void BindProgressBar(TProgressBar& model, QProgressBar* bar) {
    Follow<QProgressBar>(model, bar, kProgressBarState,
                         [](QProgressBar* w, TChange change, const TControlState& s) {
                             if (ApplyCommon(s, w, change)) return;
                             if (change == TChange::Range) {
                                 w->setRange(s.min, s.max);
                                 w->setValue(s.position);
                                 ShowNow(w);
                             } else if (change == TChange::Position) {
                                 // The bar paints itself at once when the step shows.
                                 w->setValue(s.position);
                             }
                         });
}

void BindImage(TImage& model, QLabel* label) {
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    Follow<QLabel>(model, label, kImageState,
                   [](QLabel* w, TChange change, const TControlState& s) {
                       if (ApplyCommon(s, w, change)) return;
                       if (change == TChange::Picture) {
                           w->setScaledContents(s.stretch);
                           const QPixmap picture = Picture(s.picture);
                           if (picture.isNull())
                               w->clear();
                           else
                               w->setPixmap(picture);
                           ShowNow(w);
                       }
                   });
}

void BindButton(TButton& model, QAbstractButton* button, std::function<void()> onClick) {
    Follow<QAbstractButton>(model, button, kControlState,
                            [](QAbstractButton* w, TChange change, const TControlState& s) {
                                if (ApplyCommon(s, w, change)) return;
                                if (change == TChange::Caption) {
                                    w->setText(ToQString(s.caption));
                                    ShowNow(w);
                                }
                            });
    QObject::connect(button, &QAbstractButton::clicked, button, [onClick = std::move(onClick)] {
        if (onClick) onClick();
    });
}

void BindComboBox(TComboBox& model, QComboBox* box, TModelInput input) {
    // Set while one side writes to the other, so that neither echoes back.
    auto syncing = std::make_shared<bool>(false);

    box->setEditable(true);
    box->setInsertPolicy(QComboBox::NoInsert);
    // No inline completion: what the operator types stays as typed.
    box->setCompleter(nullptr);

    auto showSelection = [](QComboBox* w, const TControlState& s) {
        w->setCurrentIndex(s.itemIndex);
        w->setEditText(ToQString(ShownText(s)));
    };

    auto shown = Follow<QComboBox>(
        model, box, kComboBoxState,
        [syncing, showSelection](QComboBox* w, TChange change, const TControlState& s) {
            if (ApplyCommon(s, w, change) || *syncing) return;
            TSyncGuard guard(*syncing);
            switch (change) {
            case TChange::Items: {
                w->clear();
                for (size_t i = 0; i < s.items.size(); ++i) {
                    w->addItem(ToQString(s.items[i]));
                    if (i < s.hints.size() && !s.hints[i].empty())
                        w->setItemData(static_cast<int>(i), ToQString(s.hints[i]), Qt::ToolTipRole);
                }
                showSelection(w, s);
                break;
            }
            case TChange::ItemIndex:
                showSelection(w, s);
                break;
            case TChange::Caption:
                if (s.itemIndex < 0) w->setEditText(ToQString(s.caption));
                break;
            default:
                return;
            }
            ShowNow(w);
        });

    // The operator's change goes to the form; one the input drops is taken
    // back, so that the box shows what the form has.
    auto offer = [box, syncing, shown, showSelection](const std::function<bool()>& send) {
        OfferBoxChange(*syncing, send, [&] { showSelection(box, *shown); });
    };
    // activated: the operator picked an item (also the one already current).
    auto choose = [&model, input, offer](int index) { offer([&] { return ChooseItem(input, model, index); }); };
    QObject::connect(box, &QComboBox::activated, box, choose);
    QObject::connect(box, &QComboBox::currentIndexChanged, box, choose);
    QObject::connect(box->lineEdit(), &QLineEdit::textEdited, box, [&model, input, offer](const QString& text) {
        offer([&] { return TypeText(input, model, text.toStdString()); });
    });
}

}  // namespace tolm
