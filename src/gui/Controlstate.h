#pragma once
// How a widget follows its control model, for every front end. A change made
// on the model's thread (the form thread) is copied there and handed to the
// GUI thread, which alone touches widgets; the model is never read from the
// GUI thread after binding. A change made on the GUI thread itself (tests
// that run the form there) reaches the widget at once.
//
// The port list also follows the operator: a choice or typed text is handed
// to the form as an event, and a change the form's input drops is taken back
// in the box (ShownText says what the box shows).
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/Controls.h"

namespace tolm {

// A control's properties as the logic left them.
struct TControlState {
    std::string caption;
    int left = 0, top = 0, width = 0, height = 0;
    bool visible = true, enabled = true;
    int min = 0, max = 100, position = 0;
    std::string picture;
    bool stretch = true;
    std::vector<std::string> items;
    std::vector<std::string> hints;
    int itemIndex = -1;
};

TControlState StateOf(const TControl& model);

// Applies one change to the widget, on the GUI thread. It must look first
// whether its widget still exists: the model outlives the window.
using TApplyChange = std::function<void(TChange, const TControlState&)>;

// Applies the model's current state for the initial changes, then each later
// change. Returns the state the widget last took (read on the GUI thread).
std::shared_ptr<const TControlState> FollowControl(TControl& model, std::initializer_list<TChange> initial,
                                                   TApplyChange apply);

// The changes every kind of widget takes when it is made, and those of the
// kinds that show more than a caption.
constexpr std::initializer_list<TChange> kControlState = {TChange::Bounds, TChange::Visible, TChange::Enabled,
                                                          TChange::Caption};
constexpr std::initializer_list<TChange> kFormState = {TChange::Caption, TChange::Bounds, TChange::Enabled};
constexpr std::initializer_list<TChange> kProgressBarState = {TChange::Bounds, TChange::Visible, TChange::Enabled,
                                                              TChange::Range, TChange::Position};
constexpr std::initializer_list<TChange> kImageState = {TChange::Bounds, TChange::Visible, TChange::Enabled,
                                                        TChange::Picture};
constexpr std::initializer_list<TChange> kComboBoxState = {TChange::Bounds, TChange::Visible, TChange::Enabled,
                                                           TChange::Items};

// Hands an operator change to the form (on the form's thread); false when
// it was dropped because the form is busy. Empty: the change is made at once.
using TModelInput = std::function<bool(std::function<void()>)>;

// The operator picked item index of the box: the model selects it.
bool ChooseItem(const TModelInput& input, TComboBox& model, int index);
// The operator typed text: the model has no item selected and the text as
// its caption (a typed port is not used; the selected item is).
bool TypeText(const TModelInput& input, TComboBox& model, const std::string& text);
// What the box's edit field shows: the selected item, else the caption.
std::string ShownText(const TControlState& state);

// Set while a window writes to its box itself (and undone as it was), so
// that the box's own notifications are not taken for the operator's.
class TSyncGuard {
public:
    explicit TSyncGuard(bool& syncing) : syncing_(syncing), was_(syncing) { syncing_ = true; }
    ~TSyncGuard() { syncing_ = was_; }
    TSyncGuard(const TSyncGuard&) = delete;
    TSyncGuard& operator=(const TSyncGuard&) = delete;

private:
    bool& syncing_;
    bool was_;
};

// The operator changed the box: send hands the change to the form; one the
// form's input drops is taken back (takeBack shows what the form has).
// Nothing while the window writes to the box itself.
void OfferBoxChange(bool& syncing, const std::function<bool()>& send, const std::function<void()>& takeBack);

}  // namespace tolm
