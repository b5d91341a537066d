#pragma once
// A form with its window, a recording message service and a scripted file
// choice (counts its calls; returns ScriptedFile, or cancels when empty).
#include <gtest/gtest.h>

#include <QWidget>

#include <memory>
#include <string>

#include "TestSupport.h"
#include "app/Unit1.h"
#include "gui/Qtmainwindow.h"

namespace tolm::test {

class GuiFixture : public ::testing::Test {
protected:
    void SetUp() override {
        form = std::make_unique<TForm1>();
        window = std::make_unique<TMainWindow>(*form);
        form->OpenDialog1.SetChooser([this](const TOpenDialog&, std::string& path) {
            ++chooserCalls;
            if (ScriptedFile.empty()) return false;
            path = ScriptedFile;
            return true;
        });
    }

    void TearDown() override {
        window.reset();
        form.reset();
    }

    template <typename W = QWidget>
    W* Widget(const char* name) const {
        W* widget = window->findChild<W*>(name);
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }

    // Shows the window and lets it settle (its first activation runs).
    void ShowWindow() {
        window->show();
        ASSERT_TRUE(PumpUntil([this] { return window->isVisible() && form->ActivatedOnce; }, 5000));
    }

    ScopedRecordingSink messages;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<TMainWindow> window;
    std::string ScriptedFile;
    int chooserCalls = 0;
};

}  // namespace tolm::test
