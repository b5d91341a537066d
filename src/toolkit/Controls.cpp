#include "toolkit/Controls.h"

#include "toolkit/MainThread.h"
#include "toolkit/Messageloop.h"

namespace tolm {

void TControl::Notify(TChange change) {
    for (auto& observer : observers_) observer(*this, change);
}

void TControl::SetCaption(const std::string& caption) {
    if (caption_ == caption) return;
    caption_ = caption;
    Notify(TChange::Caption);
}

void TControl::SetBounds(int left, int top, int width, int height) {
    if (left == left_ && top == top_ && width == width_ && height == height_) return;
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    Notify(TChange::Bounds);
}

void TControl::SetVisible(bool v) {
    if (visible_ == v) return;
    visible_ = v;
    Notify(TChange::Visible);
}

void TControl::SetEnabled(bool v) {
    if (enabled_ == v) return;
    enabled_ = v;
    Notify(TChange::Enabled);
}

void TProgressBar::SetMin(int v) {
    min_ = v;
    Notify(TChange::Range);
}

void TProgressBar::SetMax(int v) {
    max_ = v;
    Notify(TChange::Range);
}

void TProgressBar::SetPosition(int v) {
    // Like a progress control, the position stays within the range.
    if (v < min_) v = min_;
    if (v > max_) v = max_;
    if (v == position_) return;
    position_ = v;
    Notify(TChange::Position);
}

void TImage::SetPicture(const std::string& picture) {
    picture_ = picture;
    Notify(TChange::Picture);
}

void TComboBox::SetItems(std::vector<std::string> items, std::vector<std::string> hints) {
    items_ = std::move(items);
    hints_ = std::move(hints);
    hints_.resize(items_.size());
    itemIndex_ = -1;
    Notify(TChange::Items);
}

void TComboBox::SetItemIndex(int index) {
    if (index < -1 || index >= static_cast<int>(items_.size())) return;
    itemIndex_ = index;
    Notify(TChange::ItemIndex);
}

std::string TComboBox::Text() const {
    if (itemIndex_ >= 0) return items_[static_cast<size_t>(itemIndex_)];
    return Caption();
}

void TListView::Clear() {
    items_.clear();
    Notify(TChange::Items);
}

TListItem& TListView::Add() { return items_.emplace_back(); }

bool TOpenDialog::Execute() {
    if (!chooser_) return false;
    std::string path;
    if (!chooser_(*this, path)) return false;
    FileName = path;
    return true;
}

TTimer::TTimer() : timer_(MainLoop().AddTimer([this] { Tick(); })) {}

TTimer::~TTimer() { MainLoop().RemoveTimer(timer_); }

void TTimer::Tick() {
    if (!enabled_ || !OnTimer) return;
    // A copy: the handler may destroy this timer (closing the form) while it runs.
    const std::function<void()> handler = OnTimer;
    TEventScope event;
    handler();
}

void TTimer::SetEnabled(bool enabled) {
    enabled_ = enabled;
    Apply();
}

void TTimer::SetInterval(int ms) {
    interval_ = ms;
    Apply();
}

void TTimer::Apply() {
    if (enabled_ && interval_ > 0)
        MainLoop().StartTimer(timer_, std::chrono::milliseconds(interval_));
    else
        MainLoop().StopTimer(timer_);
}

}  // namespace tolm
