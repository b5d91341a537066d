// Entry point of the window tests: a QApplication on the offscreen platform
// (widgets need it), with the program's title and font.
#include <gtest/gtest.h>

#include <QApplication>

#include "GuiEventPump.h"
#include "gui/Qtappearance.h"
#include "toolkit/MainThread.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QApplication::setApplicationName("Tolm Upgrade");
    QApplication::setFont(tolm::WindowFont());
    tolm::MarkMainThread();
    tolm::test::InstallGuiEventPump();
    return RUN_ALL_TESTS();
}
