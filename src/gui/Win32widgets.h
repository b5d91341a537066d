#pragma once
// What the Win32 window draws itself, beside the standard and common
// controls: a panel (bevels and a centred caption, as the form's panels
// have) and a picture (one of the product pictures, stretched). Also the
// window's fonts and its scale on a screen of any resolution.
//
// Everything here runs on the GUI thread.
#include <windows.h>

#include <string>

#include "gui/Formcontrols.h"

namespace tolm {

// The layout is in pixels of a 96-dpi screen; a screen of dpi pixels per inch
// scales it by dpi / 96.
UINT WindowDpi(HWND window);
inline int Scaled(int pixels, UINT dpi) { return MulDiv(pixels, static_cast<int>(dpi), 96); }
// The window's outer size for a client area of that size.
SIZE OuterSize(SIZE client, DWORD style, DWORD exStyle, UINT dpi);

// The window's fonts at a resolution: the text font (11 pixels at 96 dpi)
// from a family that has the Chinese glyphs of the operator texts, and the
// "Upgrade" caption (bold, 16 pixels).
class TWindowFonts {
public:
    TWindowFonts() = default;
    ~TWindowFonts();
    TWindowFonts(const TWindowFonts&) = delete;
    TWindowFonts& operator=(const TWindowFonts&) = delete;

    void Make(UINT dpi);
    HFONT Text() const { return text_; }
    HFONT Caption() const { return caption_; }
    // The height of a line of the text font, ascent and descent: the
    // Chinese family needs more than the form's 13 pixels gave a label.
    int TextHeight() const { return textHeight_; }
    // The family the text font asked for.
    static std::wstring TextFamily();

private:
    void Release();
    HFONT text_ = nullptr;
    HFONT caption_ = nullptr;
    int textHeight_ = 0;
};

// A window's text (a control's caption).
std::wstring WindowText(HWND hwnd);

// Window classes of the panel and the picture; registered once.
extern const wchar_t* const kPanelClass;
extern const wchar_t* const kPictureClass;
void RegisterWidgetClasses(HINSTANCE instance);

// A panel's looks, given when it is made (lpParam of CreateWindowEx) and
// kept by the caller for as long as the panel lives. Its caption is its
// window text; its font comes with WM_SETFONT.
struct TPanelLook {
    TBevel outer = TBevel::None;
    TBevel inner = TBevel::None;
};

// Picture windows: the picture of that resource name ("" for none).
void SetPicture(HWND picture, const std::string& name, bool stretch);

// The "Upgrade" button's picture at a resolution, as a 32-bit icon (the
// caller destroys it).
HICON UpgradeGlyph(HINSTANCE instance, UINT dpi);

}  // namespace tolm
