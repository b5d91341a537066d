#pragma once
// Binds a widget to its control model: the widget takes the model's state at
// once and follows every later change. A change the logic makes while the
// main thread is busy (an exchange blocks it) is painted at once, and so is a
// Repaint request, so that progress shows while no events run.
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
// Both ways: the model's items, selection and text reach the box; the
// operator's choice reaches the model's ItemIndex, and typed text leaves the
// model with no item selected and that text as its caption.
void BindComboBox(TComboBox& model, QComboBox* box);

}  // namespace tolm
