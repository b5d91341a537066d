// The operator's input as every front end hands it to the form, without a
// window: no second sequence beside the dock's pause, a silent Quorin
// terminal never locks the operator out, and an event whose error cannot be
// shown still frees the input.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "Programs.h"
#include "TestSupport.h"
#include "app/Unit1.h"
#include "gui/Forminput.h"
#include "protocol/Quorin_packet.h"
#include "toolkit/Exception.h"

namespace tolm::test {
namespace {

class FormInputTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    }

    // Generates a file of the emulator's kind and chooses it with port n.
    void Choose(const std::string& kind, const std::vector<std::string>& sets, int port) {
        std::vector<std::string> args{"gen", kind, "--out", dir.File("fw.bin")};
        for (const auto& set : sets) args.insert(args.end(), {"--set", set});
        ASSERT_EQ(test::Run(TOLM_DEVSIM, args, 30000).exitCode, 0);
        form.OpenDialog1.SetChooser([this](const TOpenDialog&, std::string& path) {
            path = dir.File("fw.bin");
            return true;
        });
        ASSERT_TRUE(input.Dispatch([this] { form.FormActivate(); }));
        form.ComList.SetItemIndex(port - 1);
    }

    bool Press() {
        return input.Dispatch([this] { form.UpgradeClick(); });
    }

    TempDir dir;
    ScopedRecordingSink messages;
    TForm1 form;
    TFormInput input{form, false};
    int questions = 0;
    std::function<bool()> answerNo = [this] {
        ++questions;
        return false;
    };
};

TEST_F(FormInputTest, NoInputReachesTheFormDuringTheDocksPause) {
    Choose("tid-fw", {"images=2", "blank=1-250", "dock-blank=1-250"}, 6);
    BackgroundDevice device(TOLM_DEVSIM, {"run", "tid-pair", "--link", dir.File("COM6")});
    ASSERT_TRUE(Press());
    ASSERT_TRUE(form.Docking_Times.Enabled()) << "the scanner's image passed; the dock's follows";

    // No handler runs now, but the sequence is not over.
    EXPECT_TRUE(input.Busy());
    EXPECT_FALSE(Press()) << "Space on the focused button";
    EXPECT_FALSE(input.Dispatch([this] { form.ComList.SetItemIndex(2); })) << "another port";
    EXPECT_FALSE(input.MayClose(answerNo));
    EXPECT_EQ(questions, 1) << "closing asks";

    ASSERT_TRUE(PumpUntil([&] { return !input.Busy(); }, 60000));
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
    EXPECT_EQ(form.ComList.ItemIndex(), 5);
    EXPECT_TRUE(messages->Texts().empty()) << "no E002: no second sequence started";
    EXPECT_TRUE(input.MayClose(answerNo)) << "nothing runs any more";
}

TEST_F(FormInputTest, APressWhileAQuorinTerminalIsAwaitedWarnsAndWaitsAgain) {
    Choose("quorin-firmware", {}, 7);
    PtyPair silent;
    LinkPort(dir, 7, silent.SlavePath());
    ASSERT_TRUE(Press());
    ASSERT_TRUE(form.TolmSerialComm1.HasDriver(7));
    EXPECT_FALSE(input.Busy()) << "waiting for the announcement takes presses";

    form.QuorinPacket->PortNumber = 0;
    ASSERT_TRUE(Press());
    EXPECT_EQ(messages->Texts(), std::vector<std::string>{"E002: Warn ComPort to open again"});
    EXPECT_EQ(form.QuorinPacket->PortNumber, 7) << "the port is stored again";
    EXPECT_TRUE(form.TolmSerialComm1.HasDriver(7));
    EXPECT_FALSE(input.MayClose(answerNo)) << "the open port still makes closing ask";
}

TEST_F(FormInputTest, AnEventWhoseErrorCannotBeShownStillFreesTheInput) {
    // The error's box fails too (the window has gone), and that escapes.
    class FailingSink : public IMessageSink {
        void Show(const std::string&, const std::string&, TMsgIcon) override { throw Exception("no window"); }
    };
    auto previous = InstallMessageSink(std::make_shared<FailingSink>());
    EXPECT_THROW(input.Dispatch([] { throw Exception("in the handler"); }), Exception);
    InstallMessageSink(previous);

    EXPECT_FALSE(input.Busy());
    bool ran = false;
    EXPECT_TRUE(input.Dispatch([&] { ran = true; }));
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace tolm::test
