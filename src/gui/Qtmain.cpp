// tolm-upgrade: the desktop program. It takes no options but --version.
//
// The form (TForm1) runs on its form thread; this thread, Qt's GUI thread,
// draws the control models and hands presses over, so the window keeps
// answering the desktop during a transfer.
//
// One window per display: a second start brings the open one to the front
// and ends.
#include <QApplication>
#include <QSessionManager>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "app/Unit1.h"
#include "gui/Qtappearance.h"
#include "gui/Formwindow.h"
#include "gui/Guithread.h"
#include "gui/Qtmainwindow.h"
#include "gui/Qtmessageboxsink.h"
#include "gui/Qtsinglewindow.h"
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
    tolm::TMainWindow* shown = nullptr;
    tolm::TSingleWindow single;
    if (!single.First([&shown] {
            if (shown) shown->BringToFront();
        }))
        return 0;
    tolm::InitGuiThread();

    auto boxes = std::make_shared<tolm::TMessageBoxSink>();
    tolm::InstallMessageSink(boxes);

    const int result = tolm::RunFormWindow<tolm::TMainWindow>(
        *boxes, [&](tolm::TMainWindow& window) { boxes->SetParent(&window); },
        [&](tolm::TMainWindow& window) {
            shown = &window;
            QObject::connect(&app, &QGuiApplication::commitDataRequest, &window,
                             [&window](QSessionManager& manager) { window.AnswerSessionEnd(manager); });
            window.show();
            const int code = QApplication::exec();
            shown = nullptr;
            return code;
        },
        [](const std::string& text) { tolm::ShowMessage(text); });
    tolm::InstallMessageSink(nullptr);
    return result;
}
