// tolm-upgrade: the desktop program. It takes no options but --version.
//
// The form (TForm1) runs on its form thread; this thread, Qt's GUI thread,
// draws the control models and hands presses over, so the window keeps
// answering the desktop during a transfer.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "app/Unit1.h"
#include "gui/Appearance.h"
#include "gui/Formthread.h"
#include "gui/Guithread.h"
#include "gui/Mainwindow.h"
#include "gui/Messageboxsink.h"
#include "toolkit/Exception.h"
#include "toolkit/Messages.h"
#include "tolm/Version.h"

int main(int argc, char** argv) {
    // Answered before the application object exists, so that it needs no display.
    if (argc == 2 && !std::strcmp(argv[1], "--version")) {
        std::printf("tolm-upgrade %s\n", tolm::kVersion);
        return 0;
    }
    QApplication app(argc, argv);
    // The title is the application name; a display name is not set, because
    // the window system would then append it to the window's caption.
    QApplication::setApplicationName("Tolm Upgrade");
    QApplication::setFont(tolm::WindowFont());
    tolm::InitGuiThread();

    auto boxes = std::make_shared<tolm::TMessageBoxSink>();
    tolm::InstallMessageSink(boxes);

    int result = 1;
    try {
        tolm::TFormThread formThread;
        std::exception_ptr escaped;
        {
            tolm::TMainWindow window(formThread);
            boxes->SetParent(&window);
            formThread.Run();
            window.show();
            result = QApplication::exec();
            // The window has closed. What the form still reports while it
            // winds down goes to stderr, and what it would still show (a file
            // dialog) fails at once instead of waiting for a loop that no
            // longer runs.
            boxes->SetQuiet(true);
            tolm::CloseGuiThread();
            // The form goes first: its models' changes still reach the window's
            // widgets until then.
            formThread.Stop();
            escaped = formThread.Error();
        }
        if (escaped) std::rethrow_exception(escaped);
    } catch (const tolm::Exception& e) {
        // Every handler runs under TForm1::RunEvent; this is what escaped
        // start-up or the loop itself: shown, and the program ends.
        tolm::ShowMessage(e.Message);
    } catch (const std::exception& e) {
        tolm::ShowMessage(e.what());
    }
    tolm::InstallMessageSink(nullptr);
    return result;
}
