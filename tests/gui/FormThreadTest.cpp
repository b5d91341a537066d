// The window over a form on its form thread: the GUI thread stays free while
// a handler runs there, input meanwhile is dropped for good, a message box
// holds the form thread, a close request asks first, a call the GUI thread
// will never run does not hold the form thread forever, and a window program
// ends while its form still waits for a box.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QtTest/QTest>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestSupport.h"
#include "app/Unit1.h"
#include "gui/Filechoice.h"
#include "gui/Formthread.h"
#include "gui/Formwindow.h"
#include "gui/Guithread.h"
#include "gui/Qtmainwindow.h"
#include "gui/Qtmessageboxsink.h"
#include "toolkit/MainThread.h"

namespace tolm::test {
namespace {

// Holds the form thread inside a handler until released.
class Gate {
public:
    void Wait() {
        std::unique_lock lock(mutex_);
        entered_ = true;
        cv_.wait(lock, [this] { return open_; });
    }
    bool Entered() {
        std::lock_guard lock(mutex_);
        return entered_;
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        cv_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool entered_ = false, open_ = false;
};

class FormThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        window = std::make_unique<TMainWindow>(formThread);
        // Set while the form thread waits for Run(): the form is not running yet.
        formThread.Form().OpenDialog1.SetChooser([this](const TOpenDialog&, std::string&) {
            ++chooserCalls;
            formThread.Form().Error.SetCaption("choosing");  // a change made on the form thread
            gate.Wait();
            return false;
        });
        window->ConfirmClose = [this] {
            ++questions;
            return answer;
        };
        formThread.Run();
        window->show();
        ASSERT_TRUE(PumpUntil([this] { return gate.Entered(); }, 5000)) << "the first activation asks for a file";
    }
    void TearDown() override {
        gate.Open();
        formThread.Stop();
        window.reset();
    }

    template <typename W = QWidget>
    W* Widget(const char* name) {
        return window->findChild<W*>(name);
    }

    ScopedRecordingSink messages;
    TFormThread formThread;
    std::unique_ptr<TMainWindow> window;
    Gate gate;
    std::atomic<int> chooserCalls{0};
    int questions = 0;
    bool answer = false;
};

TEST_F(FormThreadTest, InputDuringAHandlerIsDroppedNotReplayed) {
    // The activation's handler waits in the file choice on the form thread;
    // the window goes on painting what the form changes.
    ASSERT_TRUE(PumpUntil([&] { return Widget<QLabel>("Error")->text() == "choosing"; }, 2000));
    auto* upgrade = Widget<QAbstractButton>("Upgrade");
    upgrade->click();
    upgrade->setFocus();
    QTest::keyClick(upgrade, Qt::Key_Space);
    auto* comList = Widget<QComboBox>("ComList");
    comList->setCurrentIndex(3);
    EXPECT_EQ(comList->currentText(), QString("ComList")) << "a port choice is taken back";

    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return comList->currentText() == "Com1"; }, 5000));
    ASSERT_TRUE(PumpUntil([&] { return !window->Input().Busy(); }, 5000));
    Pump(300);
    EXPECT_EQ(chooserCalls, 1) << "nothing pressed during the handler ran afterwards";

    // Once the handler is over, the button works again.
    upgrade->click();
    ASSERT_TRUE(PumpUntil([&] { return chooserCalls == 2; }, 5000));
}

TEST_F(FormThreadTest, CloseDuringAHandlerAsksAndNoLeavesItRunning) {
    window->close();
    EXPECT_EQ(questions, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_FALSE(formThread.Form().TolmSerialComm1.StopRequested());

    answer = true;
    window->close();
    EXPECT_EQ(questions, 2);
    EXPECT_FALSE(window->isVisible());
    EXPECT_TRUE(window->ClosedDuringUpgrade());
    EXPECT_TRUE(formThread.Form().TolmSerialComm1.StopRequested()) << "the transfer stops after its exchange";
}

TEST_F(FormThreadTest, AMessageBoxHoldsTheFormThread) {
    gate.Open();
    ASSERT_TRUE(PumpUntil([&] { return !window->Input().Busy(); }, 5000));

    // The box is shown here on the GUI thread; while it is open, a call
    // handed to the form thread (a delivery, a timer) must not run.
    std::atomic<bool> ranUnderBox{false}, ran{false};
    int boxes = 0;
    auto sink = std::make_shared<TMessageBoxSink>([&](QMessageBox& box) {
        ++boxes;
        EXPECT_EQ(box.text(), QString("Close"));
        PostToMainThread([&] { ran = true; });
        Pump(300);
        ranUnderBox = ran.load();
    });
    auto previous = InstallMessageSink(sink);
    Widget<QAbstractButton>("Button6")->click();
    ASSERT_TRUE(PumpUntil([&] { return ran.load(); }, 5000));
    InstallMessageSink(previous);
    EXPECT_EQ(boxes, 1);
    EXPECT_FALSE(ranUnderBox);
}

TEST(GuiThreadTest, ACallTheGuiThreadWillNotRunReleasesItsWaiter) {
    // The GUI thread runs no events here; its loop ends with the call queued
    // (or before the call is posted: it must come back either way).
    bool ran = false;
    std::string error;
    std::thread waiter([&] {
        try {
            RunOnGuiThread([&] { ran = true; });
        } catch (const EGuiThreadClosed& e) {
            error = e.Message;
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    CloseGuiThread();
    waiter.join();
    EXPECT_FALSE(ran);
    EXPECT_FALSE(error.empty());

    InitGuiThread();
    std::thread later([&] { RunOnGuiThread([&] { ran = true; }); });
    ASSERT_TRUE(PumpUntil([&] { return ran; }, 5000)) << "opened again";
    later.join();
}

TEST(FormWindowTest, AFormWindingDownShowsNothingMore) {
    // The window's loop ends while the form thread waits for the GUI thread
    // to show a box, and then asks for a file: the program must end with the
    // loop's code, and show neither (there is no window any more).
    static std::atomic<int> dialogs{0};
    struct TStubWindow {
        explicit TStubWindow(TFormThread& formThread) : form(formThread.Form()) {
            form.OpenDialog1.SetChooser([](const TOpenDialog& dialog, std::string& path) {
                return ChooseOnGuiThread(dialog, path, [](const TOpenDialog&, std::string&) { return ++dialogs > 0; });
            });
        }
        TForm1& form;
    };
    int boxes = 0;
    auto sink = std::make_shared<TMessageBoxSink>([&](QMessageBox&) { ++boxes; });
    auto previous = InstallMessageSink(sink);
    std::vector<std::string> failures;
    const int result = RunFormWindow<TStubWindow>(
        *sink, [](TStubWindow&) {},
        [](TStubWindow& window) {
            std::atomic<bool> asking{false};
            PostToMainThread([&asking, &window] {
                asking = true;
                ShowMessage("shown as the window closes");
                window.form.OpenDialog1.Execute();
            });
            while (!asking) std::this_thread::yield();
            return 7;
        },
        [&](const std::string& text) { failures.push_back(text); });
    InstallMessageSink(previous);
    InitGuiThread();  // open again for the tests after this one
    EXPECT_EQ(result, 7);
    EXPECT_EQ(boxes, 0);
    EXPECT_EQ(dialogs, 0);
    EXPECT_TRUE(failures.empty()) << failures.front();
}
}  // namespace
}  // namespace tolm::test
