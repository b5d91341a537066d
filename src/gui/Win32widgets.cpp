#include "gui/Win32widgets.h"

#include <algorithm>
#include <map>

#include "gui/Win32resources.h"
#include "toolkit/Win32text.h"

namespace tolm {

const wchar_t* const kPanelClass = L"TolmPanel";
const wchar_t* const kPictureClass = L"TolmPicture";

// ------------------------------------------------------------ resolution

std::wstring WindowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<size_t>(length) + 1, L'\0');
    const int copied = GetWindowTextW(hwnd, text.data(), length + 1);
    text.resize(static_cast<size_t>(std::max(copied, 0)));
    return text;
}

UINT WindowDpi(HWND window) {
    // Windows 10 (1607) and later know each monitor's resolution; before,
    // the system's resolution holds for every window.
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = reinterpret_cast<GetDpiForWindowFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
    if (getDpiForWindow && window) {
        if (const UINT dpi = getDpiForWindow(window)) return dpi;
    }
    HDC screen = GetDC(nullptr);
    const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

SIZE OuterSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi) {
    using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjustForDpi = reinterpret_cast<AdjustForDpiFn>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
    RECT r{0, 0, client.cx, client.cy};
    if (!adjustForDpi || !adjustForDpi(&r, style, FALSE, exStyle, dpi)) AdjustWindowRectEx(&r, style, FALSE, exStyle);
    return {r.right - r.left, r.bottom - r.top};
}

// ------------------------------------------------------------------ fonts

namespace {

// The family that draws Traditional Chinese on every Windows since Vista.
constexpr const wchar_t* kChineseFamily = L"Microsoft JhengHei";

int CALLBACK FamilyFound(const LOGFONTW*, const TEXTMETRICW*, DWORD, LPARAM found) {
    *reinterpret_cast<bool*>(found) = true;
    return 0;
}

bool HasFamily(const wchar_t* family) {
    LOGFONTW wanted{};
    wanted.lfCharSet = DEFAULT_CHARSET;
    lstrcpynW(wanted.lfFaceName, family, LF_FACESIZE);
    bool found = false;
    HDC screen = GetDC(nullptr);
    EnumFontFamiliesExW(screen, &wanted, &FamilyFound, reinterpret_cast<LPARAM>(&found), 0);
    ReleaseDC(nullptr, screen);
    return found;
}

HFONT MakeFont(const std::wstring& family, int pixels, int weight, UINT dpi) {
    LOGFONTW font{};
    font.lfHeight = -Scaled(pixels, dpi);
    font.lfWeight = weight;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    lstrcpynW(font.lfFaceName, family.c_str(), LF_FACESIZE);
    return CreateFontIndirectW(&font);
}

}  // namespace

std::wstring TWindowFonts::TextFamily() {
    if (HasFamily(kChineseFamily)) return kChineseFamily;
    // Without it, the system's own message font, which Windows links to
    // whatever Chinese family the system has.
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0))
        return metrics.lfMessageFont.lfFaceName;
    return L"MS Shell Dlg 2";
}

TWindowFonts::~TWindowFonts() { Release(); }

void TWindowFonts::Release() {
    if (text_) DeleteObject(text_);
    if (caption_) DeleteObject(caption_);
    text_ = caption_ = nullptr;
}

void TWindowFonts::Make(UINT dpi) {
    Release();
    static const std::wstring family = TextFamily();
    text_ = MakeFont(family, 11, FW_NORMAL, dpi);
    caption_ = MakeFont(L"Arial", 16, FW_BOLD, dpi);
    textHeight_ = 0;
    HDC screen = GetDC(nullptr);
    const HGDIOBJ previous = SelectObject(screen, text_);
    TEXTMETRICW metrics{};
    if (GetTextMetricsW(screen, &metrics)) textHeight_ = metrics.tmHeight;
    SelectObject(screen, previous);
    ReleaseDC(nullptr, screen);
}

// ------------------------------------------------------------------ panel

namespace {

RECT DrawBevel(HDC dc, RECT r, TBevel bevel) {
    if (bevel == TBevel::None) return r;
    const COLORREF light = GetSysColor(COLOR_3DHIGHLIGHT);
    const COLORREF dark = GetSysColor(COLOR_3DSHADOW);
    const COLORREF topLeft = bevel == TBevel::Raised ? light : dark;
    const COLORREF bottomRight = bevel == TBevel::Raised ? dark : light;
    auto line = [dc](COLORREF colour, int left, int top, int right, int bottom) {
        SetDCBrushColor(dc, colour);
        RECT edge{left, top, right, bottom};
        FillRect(dc, &edge, static_cast<HBRUSH>(GetStockObject(DC_BRUSH)));
    };
    line(topLeft, r.left, r.top, r.right, r.top + 1);
    line(topLeft, r.left, r.top, r.left + 1, r.bottom);
    line(bottomRight, r.left, r.bottom - 1, r.right, r.bottom);
    line(bottomRight, r.right - 1, r.top, r.right, r.bottom);
    return {r.left + 1, r.top + 1, r.right - 1, r.bottom - 1};
}

struct TPanelState {
    TPanelLook look;
    HFONT font = nullptr;
};

// Notifications and colour requests of a panel's children go to the window.
bool ForwardToWindow(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) {
    switch (message) {
    case WM_COMMAND:
    case WM_NOTIFY:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_DRAWITEM:
        if (HWND window = GetAncestor(hwnd, GA_ROOT); window && window != hwnd) {
            result = SendMessageW(window, message, wParam, lParam);
            return true;
        }
        return false;
    default:
        return false;
    }
}

LRESULT CALLBACK PanelProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TPanelState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    LRESULT forwarded = 0;
    if (ForwardToWindow(hwnd, message, wParam, lParam, forwarded)) return forwarded;
    switch (message) {
    case WM_NCCREATE: {
        auto* made = new TPanelState;
        if (auto* look = static_cast<const TPanelLook*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams))
            made->look = *look;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(made));
        break;
    }
    case WM_NCDESTROY:
        delete state;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    case WM_SETFONT:
        if (state) state->font = reinterpret_cast<HFONT>(wParam);
        if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, TRUE);
        return 0;
    case WM_GETFONT:
        return reinterpret_cast<LRESULT>(state ? state->font : nullptr);
    case WM_SETTEXT: {
        const LRESULT done = DefWindowProcW(hwnd, message, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return done;
    }
    case WM_ERASEBKGND:
        return 1;  // painted whole in WM_PAINT
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
        if (state) {
            r = DrawBevel(dc, r, state->look.outer);
            r = DrawBevel(dc, r, state->look.inner);
        }
        const std::wstring caption = WindowText(hwnd);
        if (!caption.empty()) {
            HGDIOBJ old = SelectObject(dc, state && state->font ? state->font : GetStockObject(DEFAULT_GUI_FONT));
            SetBkMode(dc, TRANSPARENT);
            SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
            DrawTextW(dc, caption.c_str(), static_cast<int>(caption.size()), &r, DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX);
            SelectObject(dc, old);
        }
        EndPaint(hwnd, &paint);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

// ---------------------------------------------------------------- picture

struct TPictureState {
    HBITMAP bitmap = nullptr;  // from the cache: never freed here
    bool stretch = true;
};

// Each picture is loaded once from the program's resources and kept.
HBITMAP CachedPicture(const std::string& name) {
    static std::map<std::string, HBITMAP> cache;
    if (name.empty()) return nullptr;
    if (auto at = cache.find(name); at != cache.end()) return at->second;
    auto* bitmap = static_cast<HBITMAP>(
        LoadImageW(GetModuleHandleW(nullptr), Utf8ToWide(name).c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    cache[name] = bitmap;
    return bitmap;
}

LRESULT CALLBACK PictureProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* state = reinterpret_cast<TPictureState*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE:
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new TPictureState));
        break;
    case WM_NCDESTROY:
        delete state;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        break;
    case WM_ERASEBKGND:
        return 1;
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(hwnd, &paint);
        RECT r;
        GetClientRect(hwnd, &r);
        FillRect(dc, &r, GetSysColorBrush(COLOR_BTNFACE));
        BITMAP info;
        if (state && state->bitmap && GetObjectW(state->bitmap, sizeof info, &info)) {
            HDC source = CreateCompatibleDC(dc);
            HGDIOBJ old = SelectObject(source, state->bitmap);
            if (state->stretch) {
                SetStretchBltMode(dc, HALFTONE);
                SetBrushOrgEx(dc, 0, 0, nullptr);
                StretchBlt(dc, 0, 0, r.right, r.bottom, source, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
            } else {
                BitBlt(dc, 0, 0, info.bmWidth, info.bmHeight, source, 0, 0, SRCCOPY);
            }
            SelectObject(source, old);
            DeleteDC(source);
        }
        EndPaint(hwnd, &paint);
        return 0;
    }
    default:
        break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

}  // namespace

void RegisterWidgetClasses(HINSTANCE instance) {
    WNDCLASSW panel{};
    panel.lpfnWndProc = &PanelProc;
    panel.hInstance = instance;
    panel.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    panel.lpszClassName = kPanelClass;
    RegisterClassW(&panel);

    WNDCLASSW picture = panel;
    picture.lpfnWndProc = &PictureProc;
    picture.lpszClassName = kPictureClass;
    RegisterClassW(&picture);
}

void SetPicture(HWND picture, const std::string& name, bool stretch) {
    auto* state = reinterpret_cast<TPictureState*>(GetWindowLongPtrW(picture, GWLP_USERDATA));
    if (!state) return;
    state->bitmap = CachedPicture(name);
    state->stretch = stretch;
    InvalidateRect(picture, nullptr, FALSE);
}

HICON UpgradeGlyph(HINSTANCE instance, UINT dpi) {
    const int size = Scaled(36, dpi);
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(TOLM_ICON_UPGRADE), IMAGE_ICON, size, size, 0));
}

}  // namespace tolm
