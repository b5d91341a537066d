#include "gui/Formcontrols.h"

#include "app/Unit1.h"

namespace tolm {

namespace {
constexpr uint32_t kSkyBlue = 0xa6caf0;
}  // namespace

std::vector<TWidgetEntry> FormWidgets(TForm1& form) {
    using K = TWidgetKind;
    std::vector<TWidgetEntry> widgets;
    auto add = [&widgets](TControl& model, K kind, TControl* parent) -> TWidgetEntry& {
        TWidgetEntry entry;
        entry.model = &model;
        entry.kind = kind;
        entry.parent = parent;
        return widgets.emplace_back(entry);
    };

    // The operator area.
    TControl* panel1 = &form.Panel1;
    auto& frame = add(form.Panel1, K::Panel, nullptr);
    frame.outer = TBevel::Lowered;
    frame.inner = TBevel::Raised;
    add(form.Path, K::Label, panel1).wrap = true;
    add(form.Label1, K::Label, panel1).background = kSkyBlue;
    add(form.Error, K::Label, panel1);
    add(form.PBar, K::ProgressBar, panel1);
    auto& counter = add(form.PBar_num, K::Panel, panel1);
    counter.clearWhenEmpty = true;
    counter.onTop = true;
    auto& upgrade = add(form.Upgrade, K::PictureButton, panel1);
    upgrade.click = &TForm1::UpgradeClick;
    upgrade.tabStop = true;
    add(form.ComList, K::ComboBox, panel1).tabStop = true;

    // The picture panel, moved over the button and the port list while an
    // upgrade runs.
    auto& pictures = add(form.P_Image, K::Panel, nullptr);
    pictures.outer = TBevel::Raised;
    pictures.onTop = true;
    add(form.P_ImageKind, K::Image, &form.P_Image);

    // Outside the client area: never seen, still in the tab order.
    const std::pair<TButton*, void (TForm1::*)()> service[] = {
        {&form.Button2, &TForm1::Button2Click}, {&form.Button3, &TForm1::Button3Click},
        {&form.Button1, &TForm1::Button1Click}, {&form.Button4, &TForm1::Button4Click},
        {&form.Button5, &TForm1::Button5Click}, {&form.Button6, &TForm1::Button6Click},
    };
    for (const auto& [model, handler] : service) {
        auto& button = add(*model, K::Button, nullptr);
        button.click = handler;
        button.tabStop = true;
    }
    // The picture stores, sources of the product picture.
    for (TImage* store : {&form.KV4100, &form.Quorin, &form.R_1100, &form.R_1200, &form.R_1400, &form.R_1900S,
                          &form.R_1900D, &form.R_1900, &form.W_500})
        add(*store, K::Image, nullptr);
    return widgets;
}

}  // namespace tolm
