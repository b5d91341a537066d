#pragma once
// What the message boxes of every front end share: a message from the form
// thread is shown by the GUI thread while the form thread waits for the box
// to close, so no other handler, delivery of received data or timer of the
// form runs under an open box; once the window is closing, messages go to
// stderr instead. Each front end shows the box itself (ShowBox).
#include <atomic>
#include <string>

#include "toolkit/Messages.h"

namespace tolm {

class TGuiMessageSink : public IMessageSink {
public:
    void Show(const std::string& text, const std::string& caption, TMsgIcon icon) final;
    void SetQuiet(bool quiet) { quiet_ = quiet; }

protected:
    // On the GUI thread: the modal box, with the caption and icon given and
    // one OK button.
    virtual void ShowBox(const std::string& text, const std::string& caption, TMsgIcon icon) = 0;

private:
    std::atomic<bool> quiet_{false};
};

}  // namespace tolm
