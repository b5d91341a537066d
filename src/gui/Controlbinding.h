#pragma once
// Binds a widget to its control model: the widget takes the model's state at
// once and follows every later change. A change made on the widget's own
// thread is painted at once (with a Repaint request), so that progress shows
// even while that thread runs no events. A change made on another thread (the
// form thread) is copied there and handed to the widget's thread, which alone
// touches the widget; the model is never read from the widget's thread after
// binding.
//
// The model may outlive the widget (the form is made before the window and
// destroyed after it): the bindings then do nothing.
#include <functional>

#include "toolkit/Controls.h"

class QAbstractButton;
class QComboBox;
class QLabel;
class QProgressBar;
class QWidget;

namespace tolm {

class TPanelWidget;

// The window: caption and client size (its place is the window's own).
void BindForm(TPanel& model, QWidget* window);

void BindLabel(TLabel& model, QLabel* label);
void BindPanel(TPanel& model, TPanelWidget* panel);
void BindProgressBar(TProgressBar& model, QProgressBar* bar);
// Shows the named picture, stretched to the widget when the model says so.
void BindImage(TImage& model, QLabel* label);
// onClick runs for every click of the widget.
void BindButton(TButton& model, QAbstractButton* button, std::function<void()> onClick);
// Hands an operator change to the form (on the form's thread); false when it
// was dropped because a handler runs. Empty: the change is made at once.
using TModelInput = std::function<bool(std::function<void()>)>;

// Both ways: the model's items, selection and text reach the box; the
// operator's choice reaches the model's ItemIndex, and typed text leaves the
// model with no item selected and that text as its caption. A change the
// input drops is taken back in the box.
void BindComboBox(TComboBox& model, QComboBox* box, TModelInput input = {});

}  // namespace tolm
