// tolm-upgrade: the desktop program. It takes no options but --version.
#include <QApplication>

#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>

#include "app/Unit1.h"
#include "gui/Appearance.h"
#include "gui/Mainwindow.h"
#include "gui/Messageboxsink.h"
#include "toolkit/Exception.h"
#include "toolkit/MainThread.h"
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
    tolm::MarkMainThread();

    auto boxes = std::make_shared<tolm::TMessageBoxSink>();
    tolm::InstallMessageSink(boxes);

    int result = 1;
    try {
        tolm::TForm1 form;
        tolm::TMainWindow window(form);
        boxes->SetParent(&window);
        window.show();
        result = QApplication::exec();
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
