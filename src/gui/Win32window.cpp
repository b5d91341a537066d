// The form first: <windows.h> defines macros that its serial names would meet.
#include "app/Unit1.h"
#include "gui/Win32window.h"

#include <commctrl.h>
#include <dbt.h>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "gui/Guithread.h"
#include "gui/Win32resources.h"
#include "gui/Win32services.h"
#include "toolkit/Win32text.h"

namespace tolm {

namespace {

constexpr const wchar_t* kWindowClass = L"TolmUpgradeWindow";
// A fixed dialog-style frame: caption and close button, no resizing.
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
constexpr DWORD kExStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
constexpr UINT kFirstActivation = WM_APP + 10;
// While the end of the session is refused, how often the window looks
// whether the upgrade has ended, to take its reason back.
constexpr UINT_PTR kSessionEndTimer = 1;
constexpr UINT kSessionEndCheckMs = 250;
// Control ids: the index of the widget in the table, after the ids that
// the dialog keys send (IDOK, IDCANCEL) and those of a combo box's own
// children (1000, 1001).
constexpr int kFirstId = 3000;
// The port list shows at most this many items before it scrolls.
constexpr int kVisibleItems = 12;

const wchar_t* ClassOf(TWidgetKind kind) {
    switch (kind) {
    case TWidgetKind::Panel:
        return kPanelClass;
    case TWidgetKind::Label:
        return WC_STATICW;
    case TWidgetKind::ProgressBar:
        return PROGRESS_CLASSW;
    case TWidgetKind::PictureButton:
    case TWidgetKind::Button:
        return WC_BUTTONW;
    case TWidgetKind::ComboBox:
        return WC_COMBOBOXW;
    case TWidgetKind::Image:
        return kPictureClass;
    }
    throw std::logic_error("unknown widget kind");
}

DWORD StyleOf(const TWidgetEntry& entry) {
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | (entry.tabStop ? WS_TABSTOP : 0);
    switch (entry.kind) {
    case TWidgetKind::Panel:
        return style | WS_CLIPCHILDREN;
    case TWidgetKind::Label:
        // Operator texts and file names are shown as written: "&" is no mnemonic.
        return style | SS_NOPREFIX | (entry.wrap ? SS_LEFT : SS_LEFTNOWORDWRAP);
    case TWidgetKind::ProgressBar:
        return style | PBS_SMOOTH;
    case TWidgetKind::PictureButton:
    case TWidgetKind::Button:
        return style | BS_PUSHBUTTON;
    case TWidgetKind::ComboBox:
        return style | WS_VSCROLL | CBS_DROPDOWN | CBS_AUTOHSCROLL;
    case TWidgetKind::Image:
        return style;
    }
    return style;
}

std::initializer_list<TChange> InitialChanges(TWidgetKind kind) {
    switch (kind) {
    case TWidgetKind::ProgressBar:
        return kProgressBarState;
    case TWidgetKind::Image:
        return kImageState;
    case TWidgetKind::ComboBox:
        return kComboBoxState;
    default:
        return kControlState;
    }
}

COLORREF ColourOf(uint32_t rgb) { return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF); }

}  // namespace

TWin32Window::TWin32Window(TFormThread& formThread)
    : form_(formThread.Form()),
      input_(form_, true),
      instance_(GetModuleHandleW(nullptr)),
      alive_(std::make_shared<bool>(true)) {
    InitGuiThread();
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_BAR_CLASSES};
    InitCommonControlsEx(&controls);
    RegisterWidgetClasses(instance_);

    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &TWin32Window::WindowProc;
    wc.hInstance = instance_;
    wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    wc.hbrBackground = GetSysColorBrush(COLOR_BTNFACE);
    wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(TOLM_ICON_PROGRAM), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(TOLM_ICON_PROGRAM), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    wc.lpszClassName = kWindowClass;
    RegisterClassExW(&wc);

    hwnd_ = CreateWindowExW(kExStyle, kWindowClass, L"", kStyle, CW_USEDEFAULT, CW_USEDEFAULT, 0, 0, nullptr, nullptr,
                            instance_, this);
    if (!hwnd_) throw std::runtime_error("The window cannot be made");
    dpi_ = WindowDpi(hwnd_);
    fonts_.Make(dpi_);

    auto alive = alive_;
    formShown_ = FollowControl(form_.Form, kFormState,
                               [this, alive](TChange change, const TControlState& state) {
                                   if (*alive) ApplyToWindow(change, state);
                               });
    BuildWidgets();
    form_.OpenDialog1.SetChooser(TWin32FileChooser(hwnd_));
}

TWin32Window::~TWin32Window() {
    *alive_ = false;
    if (IsWindow(hwnd_)) DestroyWindow(hwnd_);
    if (glyphs_) ImageList_Destroy(glyphs_);
    for (TWidget& widget : widgets_)
        if (widget.background) DeleteObject(widget.background);
}

// ---------------------------------------------------------------- widgets

void TWin32Window::BuildWidgets() {
    const std::vector<TWidgetEntry> entries = FormWidgets(form_);
    widgets_.reserve(entries.size());
    std::map<const TControl*, HWND> made;
    for (const TWidgetEntry& entry : entries) {
        TWidget& widget = widgets_.emplace_back();
        widget.entry = entry;
        HWND parent = entry.parent ? made.at(entry.parent) : hwnd_;
        made[entry.model] = MakeWidget(widget, parent, kFirstId + static_cast<int>(widgets_.size() - 1));
    }
    // A window made later lies under the ones before it (the tab order is
    // the order of making); what covers others is lifted.
    for (const TWidget& widget : widgets_)
        if (widget.entry.onTop)
            SetWindowPos(widget.hwnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    for (size_t i = 0; i < widgets_.size(); ++i) Follow(i);

    // The port list names the device of a discovered port in a tooltip.
    for (const TWidget& widget : widgets_) {
        if (widget.entry.kind != TWidgetKind::ComboBox) continue;
        tooltip_ = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, hwnd_, nullptr,
                                   instance_, nullptr);
        for (HWND target : {widget.hwnd, GetWindow(widget.hwnd, GW_CHILD)}) {
            if (!target) continue;
            TTTOOLINFOW tool{};
            tool.cbSize = sizeof tool;
            tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
            tool.hwnd = hwnd_;
            tool.uId = reinterpret_cast<UINT_PTR>(target);
            tool.lpszText = LPSTR_TEXTCALLBACKW;
            SendMessageW(tooltip_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool));
        }
    }
}

HWND TWin32Window::MakeWidget(TWidget& widget, HWND parent, int id) {
    const TWidgetEntry& entry = widget.entry;
    void* param = nullptr;
    DWORD exStyle = 0;
    if (entry.kind == TWidgetKind::Panel) {
        widget.look = std::make_unique<TPanelLook>(TPanelLook{entry.outer, entry.inner});
        param = widget.look.get();
        exStyle = WS_EX_CONTROLPARENT;  // Tab reaches the controls inside it
    }
    if (entry.background) widget.background = CreateSolidBrush(ColourOf(*entry.background));
    widget.hwnd = CreateWindowExW(exStyle, ClassOf(entry.kind), L"", StyleOf(entry), 0, 0, 0, 0, parent,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, param);
    if (!widget.hwnd) throw std::runtime_error("The control " + entry.model->Name() + " cannot be made");
    const bool caption = entry.kind == TWidgetKind::PictureButton;
    SendMessageW(widget.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(caption ? fonts_.Caption() : fonts_.Text()), FALSE);
    if (caption) SetButtonGlyph(widget.hwnd);
    return widget.hwnd;
}

void TWin32Window::Follow(size_t index) {
    auto alive = alive_;
    TWidget& widget = widgets_[index];
    widget.shown = FollowControl(*widget.entry.model, InitialChanges(widget.entry.kind),
                                 [this, alive, index](TChange change, const TControlState& state) {
                                     if (*alive) Apply(widgets_[index], change, state);
                                 });
}

void TWin32Window::Apply(TWidget& widget, TChange change, const TControlState& s) {
    HWND hwnd = widget.hwnd;
    const TWidgetKind kind = widget.entry.kind;
    switch (change) {
    case TChange::Bounds:
        Place(widget, s);
        break;
    case TChange::Visible:
        ShowOrHide(widget, s);
        break;
    case TChange::Enabled:
        EnableWindow(hwnd, s.enabled);
        break;
    case TChange::Repaint:
        RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        break;
    case TChange::Caption:
        if (kind == TWidgetKind::ComboBox) {
            if (s.itemIndex < 0) ShowSelection(widget, s);
        } else {
            SetWindowTextW(hwnd, Utf8ToWide(s.caption).c_str());
            if (widget.entry.clearWhenEmpty) ShowOrHide(widget, s);
        }
        break;
    case TChange::Range:
        SendMessageW(hwnd, PBM_SETRANGE32, static_cast<WPARAM>(s.min), static_cast<LPARAM>(s.max));
        SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(s.position), 0);
        break;
    case TChange::Position:
        SendMessageW(hwnd, PBM_SETPOS, static_cast<WPARAM>(s.position), 0);
        break;
    case TChange::Items:
        ShowItems(widget, s);
        break;
    case TChange::ItemIndex:
        ShowSelection(widget, s);
        break;
    case TChange::Picture:
        SetPicture(hwnd, s.picture, s.stretch);
        break;
    }
}

void TWin32Window::ApplyToWindow(TChange change, const TControlState& s) {
    switch (change) {
    case TChange::Caption:
        SetWindowTextW(hwnd_, Utf8ToWide(s.caption).c_str());
        break;
    case TChange::Bounds: {
        // The form's size is its client area; the window cannot be resized.
        const SIZE outer = OuterSize({Scaled(s.width, dpi_), Scaled(s.height, dpi_)}, kStyle, kExStyle, dpi_);
        SetWindowPos(hwnd_, nullptr, 0, 0, outer.cx, outer.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        break;
    }
    case TChange::Enabled:
        EnableWindow(hwnd_, s.enabled);
        break;
    case TChange::Repaint:
        RedrawWindow(hwnd_, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        break;
    default:
        // The window's visibility and place are its own (shown by the
        // program, in the middle of its monitor).
        break;
    }
}

void TWin32Window::Place(const TWidget& widget, const TControlState& s) {
    const int x = Scaled(s.left, dpi_), y = Scaled(s.top, dpi_);
    const int width = Scaled(s.width, dpi_), height = Scaled(s.height, dpi_);
    if (widget.entry.kind == TWidgetKind::Label && fonts_.TextHeight() > height) {
        // A label shows its font's whole line, the tails of "p" and "g"
        // included; lying under its siblings, it leaves whole what it now
        // reaches (the progress bar's edge, by a pixel at 144 dpi).
        SetWindowPos(widget.hwnd, HWND_BOTTOM, x, y, width, fonts_.TextHeight(), SWP_NOACTIVATE);
        return;
    }
    if (widget.entry.kind != TWidgetKind::ComboBox) {
        SetWindowPos(widget.hwnd, nullptr, x, y, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
        return;
    }
    // A drop-down list's height includes its list; its closed height comes
    // from the height of its edit field, set so that it is the model's where
    // the font allows (a field is never lower than its text).
    const auto items = static_cast<int>(SendMessageW(widget.hwnd, CB_GETCOUNT, 0, 0));
    const auto itemHeight = static_cast<int>(SendMessageW(widget.hwnd, CB_GETITEMHEIGHT, 0, 0));
    const int listHeight = itemHeight * std::clamp(items, 1, kVisibleItems) + Scaled(4, dpi_);
    SetWindowPos(widget.hwnd, nullptr, x, y, width, height + listHeight, SWP_NOZORDER | SWP_NOACTIVATE);
    RECT closed;
    GetWindowRect(widget.hwnd, &closed);
    const int difference = height - (closed.bottom - closed.top);
    if (difference != 0) {
        const auto field = static_cast<int>(SendMessageW(widget.hwnd, CB_GETITEMHEIGHT, static_cast<WPARAM>(-1), 0));
        SendMessageW(widget.hwnd, CB_SETITEMHEIGHT, static_cast<WPARAM>(-1), std::max(field + difference, 1));
    }
}

void TWin32Window::ShowOrHide(const TWidget& widget, const TControlState& s) {
    const bool shown = s.visible && !(widget.entry.clearWhenEmpty && s.caption.empty());
    ShowWindow(widget.hwnd, shown ? SW_SHOWNA : SW_HIDE);
}

void TWin32Window::ShowItems(const TWidget& widget, const TControlState& s) {
    {
        TSyncGuard guard(syncing_);
        SendMessageW(widget.hwnd, CB_RESETCONTENT, 0, 0);
        for (const std::string& item : s.items)
            SendMessageW(widget.hwnd, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(Utf8ToWide(item).c_str()));
    }
    ShowSelection(widget, s);
    Place(widget, s);  // the list's height follows the number of items
}

void TWin32Window::ShowSelection(const TWidget& widget, const TControlState& s) {
    TSyncGuard guard(syncing_);
    SendMessageW(widget.hwnd, CB_SETCURSEL, static_cast<WPARAM>(s.itemIndex), 0);
    SetWindowTextW(widget.hwnd, Utf8ToWide(ShownText(s)).c_str());
}

void TWin32Window::SetButtonGlyph(HWND button) {
    const int size = Scaled(36, dpi_);
    HIMAGELIST list = ImageList_Create(size, size, ILC_COLOR32 | ILC_MASK, 1, 0);
    if (HICON glyph = UpgradeGlyph(instance_, dpi_)) {
        ImageList_AddIcon(list, glyph);
        DestroyIcon(glyph);
    }
    BUTTON_IMAGELIST pictures{};
    pictures.himl = list;
    pictures.margin = {0, Scaled(2, dpi_), 0, 0};
    pictures.uAlign = BUTTON_IMAGELIST_ALIGN_TOP;
    SendMessageW(button, BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&pictures));
    if (glyphs_) ImageList_Destroy(glyphs_);
    glyphs_ = list;
}

void TWin32Window::Rescale(UINT dpi) {
    dpi_ = dpi;
    fonts_.Make(dpi_);
    for (TWidget& widget : widgets_) {
        const bool caption = widget.entry.kind == TWidgetKind::PictureButton;
        SendMessageW(widget.hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(caption ? fonts_.Caption() : fonts_.Text()),
                     TRUE);
        if (caption) SetButtonGlyph(widget.hwnd);
        if (widget.shown) Place(widget, *widget.shown);
    }
}

// ------------------------------------------------------------------ input

void TWin32Window::Command(int id, int code, HWND) {
    if (id < kFirstId || id >= kFirstId + static_cast<int>(widgets_.size())) return;
    TWidget& widget = widgets_[static_cast<size_t>(id - kFirstId)];
    TForm1* form = &form_;
    const TModelInput input = [this](std::function<void()> change) { return input_.Dispatch(std::move(change)); };
    switch (widget.entry.kind) {
    case TWidgetKind::PictureButton:
    case TWidgetKind::Button:
        if (code == BN_CLICKED && widget.entry.click)
            input_.Dispatch([form, handler = widget.entry.click] { (form->*handler)(); });
        break;
    case TWidgetKind::ComboBox: {
        auto& model = ModelOf<TComboBox>(widget.entry);
        if (code == CBN_SELCHANGE) {
            const auto index = static_cast<int>(SendMessageW(widget.hwnd, CB_GETCURSEL, 0, 0));
            OfferComboChange(widget, [&] { return ChooseItem(input, model, index); });
        } else if (code == CBN_EDITCHANGE) {
            const std::string text = WideToUtf8(WindowText(widget.hwnd));
            OfferComboChange(widget, [&] { return TypeText(input, model, text); });
        } else if (code == CBN_DROPDOWN) {
            RefreshPorts();
        }
        break;
    }
    default:
        break;
    }
}

void TWin32Window::OfferComboChange(TWidget& widget, const std::function<bool()>& send) {
    // A change the window makes itself is no operator's; one the form's
    // input drops is taken back: the box shows what the form has.
    OfferBoxChange(syncing_, send, [&] {
        if (widget.shown) ShowSelection(widget, *widget.shown);
    });
}

void TWin32Window::QueueFirstActivation() {
    // The form's activation event: the first one opens the file dialog. It
    // runs after the message that announced it, so that the window is up.
    if (input_.Activated() || activationQueued_) return;
    activationQueued_ = true;
    PostMessageW(hwnd_, kFirstActivation, 0, 0);
}

void TWin32Window::RefreshPorts() {
    // An adapter plugged in since the list was made is offered now; while
    // a transfer runs the list stays as it is.
    TForm1* form = &form_;
    input_.Offer([form] { form->RefreshPortList(); });
}

bool TWin32Window::RefuseSessionEnd() {
    if (!input_.UpgradeRunning()) return false;
    if (!sessionEndRefused_) {
        sessionEndRefused_ = true;
        ShutdownBlockReasonCreate(hwnd_, Utf8ToWide(TFormInput::kSessionEndRefused).c_str());
        SetTimer(hwnd_, kSessionEndTimer, kSessionEndCheckMs, nullptr);
    }
    return true;
}

void TWin32Window::WithdrawSessionEndReason() {
    if (!sessionEndRefused_ || input_.UpgradeRunning()) return;
    sessionEndRefused_ = false;
    KillTimer(hwnd_, kSessionEndTimer);
    ShutdownBlockReasonDestroy(hwnd_);
}

UINT TWin32Window::ComeToFrontMessage() {
    static const UINT message = RegisterWindowMessageW(L"TolmUpgradeComeToFront");
    return message;
}

bool TWin32Window::ActivateRunning() {
    HWND running = FindWindowW(kWindowClass, nullptr);
    if (!running) return false;
    // Windows lets the program that the operator just started hand the
    // foreground over; the open window then takes it itself.
    DWORD process = 0;
    GetWindowThreadProcessId(running, &process);
    AllowSetForegroundWindow(process);
    PostMessageW(running, ComeToFrontMessage(), 0, 0);
    return true;
}

void TWin32Window::ComeToFront() {
    if (IsIconic(hwnd_)) ShowWindow(hwnd_, SW_RESTORE);
    // Its open box or file dialog, if any, rather than the window under it.
    HWND front = GetLastActivePopup(hwnd_);
    SetForegroundWindow(front);
    BringWindowToTop(front);
}

bool TWin32Window::AskClose() {
    return MessageBoxW(hwnd_, Utf8ToWide(TFormInput::kCloseQuestion).c_str(), L"Tolm Upgrade",
                       MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
}

std::wstring TWin32Window::TipText() const {
    for (const TWidget& widget : widgets_) {
        if (widget.entry.kind != TWidgetKind::ComboBox || !widget.shown) continue;
        const TControlState& s = *widget.shown;
        if (s.itemIndex >= 0 && s.itemIndex < static_cast<int>(s.hints.size()))
            return Utf8ToWide(s.hints[static_cast<size_t>(s.itemIndex)]);
    }
    return {};
}

bool TWin32Window::NavigationMessage(MSG& msg) { return IsWindow(hwnd_) && IsDialogMessageW(hwnd_, &msg); }

// ----------------------------------------------------------------- window

void TWin32Window::Show(int showCommand) {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT outer;
    GetWindowRect(hwnd_, &outer);
    const RECT& work = monitor.rcWork;
    const int width = outer.right - outer.left, height = outer.bottom - outer.top;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
}

LRESULT CALLBACK TWin32Window::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* window = static_cast<TWin32Window*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        window->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
    }
    auto* window = reinterpret_cast<TWin32Window*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!window) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        *window->alive_ = false;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }
    return window->Handle(message, wParam, lParam);
}

LRESULT TWin32Window::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        Command(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam));
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->hwndFrom == tooltip_ && header->code == TTN_GETDISPINFOW) {
            tipText_ = TipText();
            reinterpret_cast<NMTTDISPINFOW*>(lParam)->lpszText = tipText_.data();
        }
        return 0;
    }
    case WM_CTLCOLORSTATIC:
        for (const TWidget& widget : widgets_) {
            if (widget.hwnd == reinterpret_cast<HWND>(lParam) && widget.background) {
                SetBkColor(reinterpret_cast<HDC>(wParam), ColourOf(*widget.entry.background));
                return reinterpret_cast<LRESULT>(widget.background);
            }
        }
        break;
    case WM_SHOWWINDOW:
        if (wParam) QueueFirstActivation();
        break;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            // The focus comes back where it was (after a box, another program).
            if (HWND focus = GetFocus(); focus && IsChild(hwnd_, focus)) focus_ = focus;
            return 0;
        }
        QueueFirstActivation();
        if (!focus_ || !IsWindow(focus_)) {
            auto first = std::find_if(widgets_.begin(), widgets_.end(), [](const TWidget& w) { return w.entry.tabStop; });
            if (first != widgets_.end()) focus_ = first->hwnd;
        }
        if (focus_) SetFocus(focus_);
        return 0;
    case kFirstActivation:
        activationQueued_ = false;
        input_.Activate();
        return 0;
    case WM_DPICHANGED: {
        Rescale(HIWORD(wParam));
        const auto* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(hwnd_, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_QUERYENDSESSION:
        // Sign-out, shutdown, an update's restart: refused while an upgrade
        // or a Quorin wait runs, since a half-written image can leave a
        // device that no longer starts. The session goes on, and so does
        // the transfer.
        return RefuseSessionEnd() ? FALSE : TRUE;
    case WM_ENDSESSION:
        // The session ends now (nobody refused, or it was forced): the
        // window goes as a close would take it, without a question.
        if (wParam) DestroyWindow(hwnd_);
        return 0;
    case WM_TIMER:
        if (wParam == kSessionEndTimer) {
            WithdrawSessionEndReason();
            return 0;
        }
        break;
    case WM_DEVICECHANGE:
        // Ports come and go with their adapters (the system tells every
        // top-level window); other devices' changes are let pass.
        if (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE || wParam == DBT_DEVNODES_CHANGED)
            RefreshPorts();
        return TRUE;
    case WM_CLOSE:
        // The transfer goes on while the question is open.
        if (input_.MayClose([this] { return AskClose(); })) DestroyWindow(hwnd_);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        if (message == ComeToFrontMessage()) {
            ComeToFront();
            return 0;
        }
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace tolm
