// Entry point of the form-thread tests: a QApplication whose thread is only
// the GUI thread; each test's TFormThread marks its own thread as the main one.
#include <gtest/gtest.h>

#include <QApplication>

#include "GuiEventPump.h"
#include "gui/Qtappearance.h"
#include "gui/Guithread.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tolm Upgrade");
    QApplication::setFont(tolm::WindowFont());
    tolm::InitGuiThread();
    tolm::test::InstallGuiEventPump();
    return RUN_ALL_TESTS();
}
