#pragma once
// How a window is made of the form's control models, for every front end:
// which model each widget shows, what kind of widget it is, where it lies and
// which of the form's handlers a click runs. The Qt window and the Win32
// window both build their widgets from this one table, so the two differ
// only in their widgets.
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "toolkit/Controls.h"

namespace tolm {

class TForm1;

enum class TBevel { None, Raised, Lowered };

enum class TWidgetKind {
    Panel,          // bevels and a centred caption
    Label,          // plain text, never markup
    ProgressBar,    // no text of its own
    PictureButton,  // a push button with the "Upgrade" picture above its caption
    Button,         // a plain push button
    ComboBox,       // editable, with the model's items
    Image,          // a named picture, stretched when the model says so
};

struct TWidgetEntry {
    TControl* model = nullptr;
    TWidgetKind kind = TWidgetKind::Label;
    // The model of the widget it lies in; null for the window itself.
    TControl* parent = nullptr;
    TBevel outer = TBevel::None;
    TBevel inner = TBevel::None;
    // Run as a form event when the button is clicked.
    void (TForm1::*click)() = nullptr;
    // A label whose text may wrap onto more lines.
    bool wrap = false;
    // A background colour of its own (0xRRGGBB), drawn behind the text.
    std::optional<uint32_t> background;
    // A panel without a caption lets what lies under it show (the packet
    // counter lies on the progress bar and is empty between transfers).
    bool clearWhenEmpty = false;
    // It lies over widgets made before it (the picture panel over the
    // button and the port list, the packet counter over the progress bar).
    bool onTop = false;
    // Reached with the Tab key.
    bool tabStop = false;
};

// Every widget of the window, in the order in which they are made: a parent
// before its children, and the tab order is the order of the tab stops.
std::vector<TWidgetEntry> FormWidgets(TForm1& form);

// The entry's model as the control its widget binds to (a TComboBox for a
// ComboBox, ...); a table that pairs a kind with another model is a mistake
// of the program, raised as such.
template <typename Model>
Model& ModelOf(const TWidgetEntry& entry) {
    if (auto* model = dynamic_cast<Model*>(entry.model)) return *model;
    throw std::logic_error("The widget of " + entry.model->Name() + " is not made for its kind of control");
}

}  // namespace tolm
