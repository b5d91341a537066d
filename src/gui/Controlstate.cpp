#include "gui/Controlstate.h"

#include "gui/Guithread.h"

namespace tolm {

TControlState StateOf(const TControl& model) {
    TControlState s;
    s.caption = model.Caption();
    s.left = model.Left();
    s.top = model.Top();
    s.width = model.Width();
    s.height = model.Height();
    s.visible = model.Visible();
    s.enabled = model.Enabled();
    if (auto* bar = dynamic_cast<const TProgressBar*>(&model)) {
        s.min = bar->Min();
        s.max = bar->Max();
        s.position = bar->Position();
    } else if (auto* image = dynamic_cast<const TImage*>(&model)) {
        s.picture = image->Picture();
        s.stretch = image->Stretch;
    } else if (auto* list = dynamic_cast<const TComboBox*>(&model)) {
        s.items = list->Items();
        s.hints = list->Hints();
        s.itemIndex = list->ItemIndex();
    }
    return s;
}

std::shared_ptr<const TControlState> FollowControl(TControl& model, std::initializer_list<TChange> initial,
                                                   TApplyChange apply) {
    auto shown = std::make_shared<TControlState>(StateOf(model));
    for (TChange change : initial) apply(change, *shown);
    model.AddObserver([apply, shown](TControl& changed, TChange change) {
        PostToGuiThread([apply, shown, change, state = StateOf(changed)] {
            *shown = state;
            apply(change, state);
        });
    });
    return shown;
}

bool ChooseItem(const TModelInput& input, TComboBox& model, int index) {
    auto change = [&model, index] { model.SetItemIndex(index); };
    if (!input) {
        change();
        return true;
    }
    return input(change);
}

bool TypeText(const TModelInput& input, TComboBox& model, const std::string& text) {
    auto change = [&model, text] {
        model.SetCaption(text);
        model.SetItemIndex(-1);
    };
    if (!input) {
        change();
        return true;
    }
    return input(change);
}

std::string ShownText(const TControlState& state) {
    if (state.itemIndex >= 0 && state.itemIndex < static_cast<int>(state.items.size()))
        return state.items[static_cast<size_t>(state.itemIndex)];
    return state.caption;
}

void OfferBoxChange(bool& syncing, const std::function<bool()>& send, const std::function<void()>& takeBack) {
    if (syncing) return;
    TSyncGuard guard(syncing);
    if (!send()) takeBack();
}

}  // namespace tolm
