// A port closed from inside the driver's own poll: the poll runs
// ProcessMessages, and what runs there (the Quorin announcement's sequence,
// the docking station's timer) closes the port and destroys the driver while
// the poll is still on the stack. Each test places the poll pass itself, so
// the nesting happens every run; the address sanitizer build sees any use of
// the freed driver.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>

#include <chrono>
#include <memory>
#include <thread>

#include "Programs.h"
#include "TestSupport.h"
#include "app/Unit1.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_tid_packet.h"

using namespace tolm;

namespace {

class NestedCloseTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    }
    test::TempDir dir;
    test::ScopedRecordingSink messages;
    TForm1 form;
};

TEST_F(NestedCloseTest, AnnouncementSequenceClosesThePortInsideThePoll) {
    const std::string file = dir.File("qr.bin");
    ASSERT_EQ(test::Run(TOLM_DEVSIM, {"gen", "quorin-firmware", "--out", file, "--set", "kernel=3"}, 30000).exitCode, 0);
    test::BackgroundDevice terminal(TOLM_DEVSIM, {"run", "quorin", "--link", dir.File("COM5"), "--set",
                                                  "announce-ms=1000", "--set", "kernel=3"});
    ASSERT_FALSE(terminal.Pty().empty());
    form.OpenDialog1.SetChooser([&](const TOpenDialog&, std::string& path) {
        path = file;
        return true;
    });
    form.FormActivate();
    form.ComList.SetItemIndex(4);
    form.UpgradeClick();  // opens port 5 and waits for the announcement
    ASSERT_TRUE(form.TolmSerialComm1.HasDriver(5));

    // The file changes after its check: the sequence refuses it and closes
    // the port at once, right after the kernel check.
    timespec times[2] = {{0, UTIME_OMIT}, {1000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, file.c_str(), times, 0), 0);

    // The announcement is queued and its delivery handed to this thread,
    // which runs no events until the poll below.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (form.TolmSerialComm1.Packet_Count() == 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_GT(form.TolmSerialComm1.Packet_Count(), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));

    form.TolmSerialComm1.RunDriverPoll(5);
    EXPECT_FALSE(form.TolmSerialComm1.HasDriver(5)) << "the delivery ran inside the poll";
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
}

TEST_F(NestedCloseTest, DockTimerClosesThePortInsideThePoll) {
    test::PtyPair silent;
    test::LinkPort(dir, 6, silent.SlavePath());
    ASSERT_EQ(form.TolmSerialComm1.OpenComPort(6, "115200,n,8,1"), 0);
    form.ScanTIDPacket->PortNumber = 6;
    form.Docking_Times.SetInterval(1);
    form.Docking_Times.SetEnabled(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));  // the timer is due

    form.TolmSerialComm1.RunDriverPoll(6);
    EXPECT_FALSE(form.TolmSerialComm1.HasDriver(6)) << "the timer ran inside the poll";
    EXPECT_EQ(form.Error.Caption(), "G002.3 Host connection error.");
}

}  // namespace
