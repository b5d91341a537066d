#include "gui/Guimessagesink.h"

#include "gui/Guithread.h"

namespace tolm {

void TGuiMessageSink::Show(const std::string& text, const std::string& caption, TMsgIcon icon) {
    if (quiet_) {
        StderrMessageSink().Show(text, caption, icon);
        return;
    }
    if (!IsGuiThread()) {
        // Quiet is asked again there: the window may have closed meanwhile.
        RunOnGuiThread([&] { Show(text, caption, icon); });
        return;
    }
    ShowBox(text, caption, icon);
}

}  // namespace tolm
