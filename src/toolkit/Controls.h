#pragma once
// Control models of the form: the properties the logic reads and writes, with
// observers that a front end (window, terminal, test) binds to. No widget types.
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tolm {

// What changed, so that an observer can update only that.
enum class TChange { Caption, Bounds, Visible, Enabled, Position, Range, Items, ItemIndex, Picture, Repaint };

class TControl {
public:
    using Observer = std::function<void(TControl&, TChange)>;

    explicit TControl(std::string name) : name_(std::move(name)) {}
    virtual ~TControl() = default;
    TControl(const TControl&) = delete;
    TControl& operator=(const TControl&) = delete;

    const std::string& Name() const { return name_; }

    const std::string& Caption() const { return caption_; }
    void SetCaption(const std::string& caption);

    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }
    void SetLeft(int v) { SetBounds(v, top_, width_, height_); }
    void SetTop(int v) { SetBounds(left_, v, width_, height_); }
    void SetWidth(int v) { SetBounds(left_, top_, v, height_); }
    void SetHeight(int v) { SetBounds(left_, top_, width_, v); }
    void SetBounds(int left, int top, int width, int height);

    bool Visible() const { return visible_; }
    void SetVisible(bool v);
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool v);

    // Asks the front end to show the current state now (while the main thread
    // may be blocked in an exchange).
    void Repaint() { Notify(TChange::Repaint); }

    // Observers are called on the thread that changed the property (the main thread).
    void AddObserver(Observer observer) { observers_.push_back(std::move(observer)); }

protected:
    void Notify(TChange change);

private:
    std::string name_;
    std::string caption_;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
    bool visible_ = true;
    bool enabled_ = true;
    std::vector<Observer> observers_;
};

class TLabel : public TControl { using TControl::TControl; };
class TPanel : public TControl { using TControl::TControl; };
class TButton : public TControl { using TControl::TControl; };

class TProgressBar : public TControl {
public:
    using TControl::TControl;
    int Min() const { return min_; }
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMin(int v);
    void SetMax(int v);
    void SetPosition(int v);

private:
    int min_ = 0, max_ = 100, position_ = 0;
};

// A picture: names one of the form's picture stores ("" for none).
class TImage : public TControl {
public:
    using TControl::TControl;
    const std::string& Picture() const { return picture_; }
    void SetPicture(const std::string& picture);
    bool Stretch = true;

private:
    std::string picture_;
};

class TComboBox : public TControl {
public:
    using TControl::TControl;
    const std::vector<std::string>& Items() const { return items_; }
    // hints: for each item, a note a front end may show as its tooltip (a
    // port's device name); empty for none. Shorter than the items: the rest
    // have none.
    void SetItems(std::vector<std::string> items, std::vector<std::string> hints = {});
    const std::vector<std::string>& Hints() const { return hints_; }
    int ItemIndex() const { return itemIndex_; }
    void SetItemIndex(int index);  // -1 for none; out of range is ignored
    // The shown text: the selected item, or the caption while none is selected.
    std::string Text() const;

private:
    std::vector<std::string> items_;
    std::vector<std::string> hints_;
    int itemIndex_ = -1;
};

struct TListItem {
    std::string Caption;
    std::vector<std::string> SubItems;
};

class TListView : public TControl {
public:
    using TControl::TControl;
    const std::vector<TListItem>& Items() const { return items_; }
    void Clear();
    TListItem& Add();
    // Notifies observers after a batch of Add() calls.
    void EndUpdate() { Notify(TChange::Items); }

private:
    std::vector<TListItem> items_;
};

// File-open dialog. Execute() asks the installed chooser (the window's dialog,
// a script in tests, a command-line argument).
class TOpenDialog {
public:
    using Chooser = std::function<bool(const TOpenDialog&, std::string& chosenPath)>;
    std::string Filter;
    std::string FileName;
    void SetChooser(Chooser chooser) { chooser_ = std::move(chooser); }
    bool Execute();

private:
    Chooser chooser_;
};

// Repeating timer on the main thread's message loop (MainThread.h): it ticks
// while the main thread processes messages. A handler that runs long does
// not make the ticks it overran pile up.
class TTimer {
public:
    TTimer();
    ~TTimer();
    TTimer(const TTimer&) = delete;
    TTimer& operator=(const TTimer&) = delete;
    // Read from any thread (a front end drops input while the timer is armed);
    // changed on the main thread.
    bool Enabled() const { return enabled_.load(); }
    void SetEnabled(bool enabled);
    int Interval() const { return interval_; }
    void SetInterval(int ms);
    std::function<void()> OnTimer;

private:
    void Apply();
    void Tick();
    std::atomic<bool> enabled_{false};
    int interval_ = 1000;
    uint64_t timer_;  // its timer in the main thread's loop
};

}  // namespace tolm
