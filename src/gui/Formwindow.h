#pragma once
// The life of a window program, the same for every front end: the window is
// built over the form thread, the form starts, the toolkit's loop runs until
// the window closes; then the form winds down before the window goes, so
// that its models' changes still reach the widgets until then. What the form
// still reports meanwhile goes to stderr, and what it would still show (a
// file dialog) fails at once instead of waiting for a loop that no longer
// runs. Every handler runs under TForm1::RunEvent; what escaped start-up or
// the loop itself is shown by showFailure, and the program ends.
#include <exception>
#include <functional>
#include <string>

#include "gui/Formthread.h"
#include "gui/Guimessagesink.h"
#include "gui/Guithread.h"
#include "toolkit/Exception.h"

namespace tolm {

// ownBoxes makes the window the owner of the message boxes; showAndRun shows
// it and runs the loop, returning the program's exit code.
template <class Window>
int RunFormWindow(TGuiMessageSink& boxes, const std::function<void(Window&)>& ownBoxes,
                  const std::function<int(Window&)>& showAndRun,
                  const std::function<void(const std::string&)>& showFailure) {
    int result = 1;
    try {
        TFormThread formThread;
        std::exception_ptr escaped;
        {
            Window window(formThread);
            ownBoxes(window);
            formThread.Run();
            result = showAndRun(window);
            boxes.SetQuiet(true);
            CloseGuiThread();
            formThread.Stop();
            escaped = formThread.Error();
        }
        if (escaped) std::rethrow_exception(escaped);
    } catch (const Exception& e) {
        showFailure(e.Message);
    } catch (const std::exception& e) {
        showFailure(e.what());
    }
    return result;
}

}  // namespace tolm
