#pragma once
// Binds a Qt widget to its control model: the widget takes the model's state
// at once and follows every later change, as Controlstate.h says. A change
// made on the widget's own thread is painted at once (with a Repaint
// request), so that progress shows even while that thread runs no events.
//
// The model may outlive the widget (the form is made before the window and
// destroyed after it): the bindings then do nothing.
#include <functional>

#include "gui/Controlstate.h"
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
// model with no item selected and that text as its caption. A change the
// input drops is taken back in the box.
void BindComboBox(TComboBox& model, QComboBox* box, TModelInput input = {});

}  // namespace tolm
