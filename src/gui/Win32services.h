#pragma once
// The form's message boxes and file dialog in the Win32 window. Called on
// the form thread, each is shown by the GUI thread, owned by the window,
// while the form thread waits: a box holds the form, as a modal box does.
#include <windows.h>

#include <atomic>
#include <string>

#include "gui/Guimessagesink.h"
#include "toolkit/Controls.h"

namespace tolm {

// Operator messages as MessageBoxW: the caption and icon given, one OK button.
class TWin32MessageSink : public TGuiMessageSink {
public:
    // The window that owns the boxes (may be null, or go away).
    void SetOwner(HWND owner) { owner_ = owner; }

    static UINT IconFlags(TMsgIcon icon);

protected:
    void ShowBox(const std::string& text, const std::string& caption, TMsgIcon icon) override;

private:
    std::atomic<HWND> owner_{nullptr};
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
