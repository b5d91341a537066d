#pragma once
// The form's message boxes and file dialog in the Win32 window. Called on
// the form thread, each is shown by the GUI thread, owned by the window,
// while the form thread waits: a box holds the form, as a modal box does.
#include <windows.h>

#include <atomic>
#include <string>

#include "toolkit/Controls.h"
#include "toolkit/Messages.h"

namespace tolm {

// Operator messages as MessageBoxW: the caption and icon given, one OK button.
class TWin32MessageSink : public IMessageSink {
public:
    // The window that owns the boxes (may be null, or go away).
    void SetOwner(HWND owner) { owner_ = owner; }
    void Show(const std::string& text, const std::string& caption, TMsgIcon icon) override;
    // Once the window has closed, messages go to stderr instead of boxes.
    void SetQuiet(bool quiet) { quiet_ = quiet; }

    static UINT IconFlags(TMsgIcon icon);

private:
    std::atomic<HWND> owner_{nullptr};
    std::atomic<bool> quiet_{false};
};

// The file choice behind TOpenDialog: GetOpenFileNameW with the dialog's
// filter, owned by the window; or the file that TOLM_UPGRADE_OPEN_FILE names
// (an empty value cancels), as on Linux.
class TWin32FileChooser {
public:
    explicit TWin32FileChooser(HWND owner) : owner_(owner) {}
    bool operator()(const TOpenDialog& dialog, std::string& chosenPath) const;

private:
    HWND owner_;
};

// The filter of GetOpenFileNameW for a filter text of "description|pattern"
// pairs: each part ends in a zero, and the whole in a second one.
std::wstring DialogFilter(const std::string& filter);

}  // namespace tolm
