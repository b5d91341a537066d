#pragma once
// The Win32 window of a TForm1: a fixed dialog-style window with a standard
// or common control for every control model of the form (Formcontrols.h),
// each following its model (Controlstate.h). Clicks, port choices and the
// first activation reach the form's handlers as events through the form's
// input, which drops them while the form is busy; a close request while an
// upgrade runs asks first.
//
// While an upgrade or a Quorin wait runs, the end of the session is refused
// (WM_QUERYENDSESSION) with a reason the system shows, withdrawn when the
// upgrade has ended. The port list is read again as it drops down and when a
// device arrives or leaves (WM_DEVICECHANGE).
//
// The layout is the form's, in pixels of a 96-dpi screen, scaled by the
// resolution of the monitor the window is on, also when it moves to another.
// Texts reach the controls as UTF-16 through the W calls.
//
// Made, used and destroyed on the GUI thread; the form runs on its form
// thread.
#include <windows.h>
#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "gui/Controlstate.h"
#include "gui/Formcontrols.h"
#include "gui/Forminput.h"
#include "gui/Formthread.h"
#include "gui/Win32widgets.h"

namespace tolm {

class TForm1;

class TWin32Window {
public:
    explicit TWin32Window(TFormThread& formThread);
    ~TWin32Window();
    TWin32Window(const TWin32Window&) = delete;
    TWin32Window& operator=(const TWin32Window&) = delete;

    HWND Handle() const { return hwnd_; }
    // Shows the window in the middle of its monitor's work area.
    void Show(int showCommand);
    // Hands a message to the window's keyboard navigation (Tab, Space on the
    // focused button); true when it took it.
    bool NavigationMessage(MSG& msg);

    // True once a close during an upgrade was confirmed.
    bool ClosedDuringUpgrade() const { return input_.ClosedDuringUpgrade(); }

    // Brings a window of this program already open in the session to the
    // front (restored, its box or dialog on top); false when there is none.
    static bool ActivateRunning();

private:
    struct TWidget {
        TWidgetEntry entry;
        HWND hwnd = nullptr;
        std::unique_ptr<TPanelLook> look;
        HBRUSH background = nullptr;  // of a widget with a colour of its own
        std::shared_ptr<const TControlState> shown;
    };

    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);

    void BuildWidgets();
    HWND MakeWidget(TWidget& widget, HWND parent, int id);
    void Follow(size_t index);
    void Apply(TWidget& widget, TChange change, const TControlState& state);
    void ApplyToWindow(TChange change, const TControlState& state);
    void Place(const TWidget& widget, const TControlState& state);
    void ShowOrHide(const TWidget& widget, const TControlState& state);
    void ShowItems(const TWidget& widget, const TControlState& state);
    void ShowSelection(const TWidget& widget, const TControlState& state);
    void SetButtonGlyph(HWND button);
    void Rescale(UINT dpi);

    void Command(int id, int code, HWND control);
    void OfferComboChange(TWidget& widget, const std::function<bool()>& send);
    void QueueFirstActivation();
    void RefreshPorts();
    // Restores the window and takes the foreground (a later start asked).
    void ComeToFront();
    static UINT ComeToFrontMessage();
    // True when the end of the session must wait for an upgrade; the
    // reason stays shown until WithdrawSessionEndReason finds it over.
    bool RefuseSessionEnd();
    void WithdrawSessionEndReason();
    bool AskClose();
    std::wstring TipText() const;

    TForm1& form_;
    TFormInput input_;
    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    HWND tooltip_ = nullptr;
    HWND focus_ = nullptr;
    UINT dpi_ = 96;
    TWindowFonts fonts_;
    HIMAGELIST glyphs_ = nullptr;
    std::vector<TWidget> widgets_;
    std::shared_ptr<const TControlState> formShown_;
    std::shared_ptr<bool> alive_;
    mutable std::wstring tipText_;
    bool syncing_ = false;
    bool activationQueued_ = false;
    bool sessionEndRefused_ = false;
};

}  // namespace tolm
