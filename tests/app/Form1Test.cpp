// The main window's logic without widgets: file checks, the upgrade driver of
// each family against emulated devices, the receive handler, and what the
// operator sees afterwards (result line, messages, picture panel, port state).
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <memory>

#include "Programs.h"
#include "TestSupport.h"
#include "../serial/Fakeserialdevice.h"
#include "app/Unit1.h"
#include "platform/Portaccess.h"
#include "protocol/Kv_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"

using namespace tolm;

namespace {

constexpr int kShownLeft = 301;
constexpr int kHiddenLeft = 421;

class Form1Test : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
        form.OpenDialog1.SetChooser([this](const TOpenDialog&, std::string& path) {
            ++dialogOpened;
            if (chosen.empty()) return false;
            path = chosen;
            return true;
        });
    }

    std::string Generate(const std::string& kind, const std::string& name, const std::vector<std::string>& sets) {
        std::vector<std::string> args{"gen", kind, "--out", dir.File(name)};
        for (auto& s : sets) args.insert(args.end(), {"--set", s});
        EXPECT_EQ(test::Run(TOLM_DEVSIM, args, 30000).exitCode, 0);
        return dir.File(name);
    }

    std::unique_ptr<test::BackgroundDevice> Start(const std::string& device, int port,
                                                  const std::vector<std::string>& sets) {
        std::vector<std::string> args{"run", device, "--link", dir.File("COM" + std::to_string(port))};
        for (auto& s : sets) args.insert(args.end(), {"--set", s});
        auto d = std::make_unique<test::BackgroundDevice>(TOLM_DEVSIM, args);
        EXPECT_FALSE(d->Pty().empty());
        return d;
    }

    // Chooses the file as the first activation does, and port n.
    void Choose(const std::string& path, int port) {
        chosen = path;
        form.FormActivate();
        form.ComList.SetItemIndex(port - 1);
    }

    bool PortOpen(int port) { return form.TolmSerialComm1.HasDriver(port); }

    test::TempDir dir;
    test::ScopedRecordingSink messages;
    TForm1 form;
    std::string chosen;
    int dialogOpened = 0;
};

}  // namespace

TEST_F(Form1Test, StartUpShowsCaptionPortListAndOpensTheDialogOnce) {
    EXPECT_EQ(form.Form.Caption(), "Tolm Upgrade Tools...[3.4.8]");
    EXPECT_EQ(form.ComList.Text(), "ComList");
    form.FormActivate();
    form.FormActivate();
    EXPECT_EQ(dialogOpened, 1);
    EXPECT_EQ(form.ComList.Text(), "Com1");
    form.ComList.SetItemIndex(9);
    EXPECT_EQ(form.SelectedPortNumber(), 10);
    EXPECT_EQ(form.P_Image.Left(), 427);
}

TEST_F(Form1Test, PortListGainsAnItemForEachPortAboveTen) {
    test::PtyPair adapter, other;
    test::LinkPort(dir, 12, adapter.SlavePath());
    test::LinkPort(dir, 3, other.SlavePath());
    form.FormActivate();
    const auto& items = form.ComList.Items();
    ASSERT_EQ(items.size(), 11u);
    EXPECT_EQ(items[9], "Com10");
    form.ComList.SetItemIndex(10);
    EXPECT_EQ(form.SelectedPortNumber(), 12);
    form.RefreshPortList();  // again, as each press does: nothing doubled, the selection kept
    EXPECT_EQ(form.ComList.Items().size(), 11u);
    EXPECT_EQ(form.SelectedPortNumber(), 12);

    // Ports above ten come and go with their adapters; the fixed ten and the
    // operator's choice stay.
    test::PtyPair later;
    test::LinkPort(dir, 14, later.SlavePath());
    form.RefreshPortList();
    EXPECT_EQ(form.ComList.Items().back(), "Com14");
    std::filesystem::remove(dir.File("COM12"));
    std::filesystem::remove(dir.File("COM14"));
    form.RefreshPortList();
    ASSERT_EQ(form.ComList.Items().size(), 11u);
    EXPECT_EQ(form.ComList.Items()[9], "Com10");
    EXPECT_EQ(form.SelectedPortNumber(), 12);
}

TEST_F(Form1Test, FirmwareFilesAreIdentifiedAndCheckedByFamily) {
    std::filesystem::create_directory(dir.File("dir with space"));
    Choose(Generate("scanner-fw", "dir with space/lb1y.bin", {"model=LB1Y"}), 1);
    EXPECT_EQ(form.FirmwareFamily, 2);
    EXPECT_EQ(form.FamilyCode, "2LB");
    EXPECT_EQ(form.Label1.Caption(), "Fimrware種類 [2]");
    EXPECT_EQ(form.Path.Caption(), "lb1y.bin");
    EXPECT_EQ(form.P_ImageKind.Picture(), "R_1100");
    EXPECT_EQ(form.ScanPacket->ImageLength, 263168);

    // The two-image file is identified at its end; the TID check reads the
    // first image's trailer at offset 262144.
    chosen = Generate("tid-fw", "gh2y.bin", {"images=2", "model=GH2Y", "dock-model=TW2Y"});
    form.SelectFirmwareFile();
    EXPECT_EQ(form.FamilyCode, "2TW");
    EXPECT_EQ(form.ScanTIDPacket->ModelCode, "GH2Y");
    EXPECT_EQ(form.ScanPacket->ImageLength, 526336);

    chosen = Generate("quorin-firmware", "old.bin", {"version=104"});
    form.SelectFirmwareFile();
    EXPECT_EQ(form.FirmwareFamily, 3);
    EXPECT_TRUE(form.FirmwareFile.empty());
    EXPECT_EQ(messages->Texts().back(), "Fireware 版本小於105");
    EXPECT_EQ(form.Path.Caption(), "");

    dir.Write("short.bin", "\x3D\x5B\x5C");  // "3QR" stored +10, no room for a trailer
    chosen = dir.File("short.bin");
    form.SelectFirmwareFile();
    EXPECT_EQ(form.FamilyCode, "3QR");
    EXPECT_TRUE(form.FirmwareFile.empty()) << "a file too short for a trailer is refused";
}

TEST_F(Form1Test, FontFilesInAnyCaseAndTheirSizeLimit) {
    chosen = Generate("kv-font", "BIG5.FoN", {"size=4096"});
    form.SelectFirmwareFile();
    EXPECT_EQ(form.FirmwareFamily, 4);
    EXPECT_EQ(form.FirmwareFile, chosen);
    EXPECT_EQ(form.P_ImageKind.Picture(), "KV4100");

    chosen = Generate("kv-font", "huge.fon", {"size=1052672"});
    form.SelectFirmwareFile();
    EXPECT_TRUE(form.FirmwareFile.empty());
    EXPECT_EQ(messages->Texts().back(), "warning .. File Size > 1024K");
}

TEST_F(Form1Test, FileLineShowsTheNameWithoutFolders) {
    form.FirmwareFile = "/home/op/fw/A.BIN";
    form.ShowFileLine();
    EXPECT_EQ(form.Path.Caption(), "A.BIN");
    form.FirmwareFile = "C:\\FW\\A.BIN";
    form.ShowFileLine();
    EXPECT_EQ(form.Path.Caption(), "A.BIN");
    form.FirmwareFile = "C:A.BIN";
    form.ShowFileLine();
    EXPECT_EQ(form.Path.Caption(), "A.BIN");
    form.FirmwareFile = "A.BIN";
    form.ShowFileLine();
    EXPECT_EQ(form.Path.Caption(), "A.BIN");
}

TEST_F(Form1Test, FirstGenerationScannerPassesAndTheBenchIsFreedAfterwards) {
    Choose(Generate("scanner-fw", "lb1y.bin", {"blank=1-200"}), 3);
    auto dev = Start("scanner", 3, {});
    std::vector<int> panelLefts;
    form.P_Image.AddObserver([&](TControl& c, TChange) { panelLefts.push_back(c.Left()); });
    form.UpgradeClick();
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
    EXPECT_EQ(form.PBar.Max(), 256);
    EXPECT_EQ(form.PBar.Position(), 0);
    EXPECT_EQ(form.PBar_num.Caption(), "");
    ASSERT_FALSE(panelLefts.empty());
    EXPECT_EQ(panelLefts.front(), kShownLeft);
    EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
    EXPECT_FALSE(PortOpen(3));
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(Form1Test, PortAlreadyOpenWarnsAndGoesOnButAMissingPortStops) {
    Choose(Generate("scanner-fw", "lb1y.bin", {"blank=1-200"}), 3);
    auto dev = Start("scanner", 3, {});
    ASSERT_EQ(form.TolmSerialComm1.OpenComPort(3, "115200,n,8,1"), 0);
    form.UpgradeClick();
    EXPECT_EQ(messages->Texts().front(), "E002: Warn ComPort to open again");
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");

    messages->Clear();
    form.ComList.SetItemIndex(7);  // Com8: nothing linked there, no /dev/ttyS7
    test::LinkPort(dir, 8, dir.File("gone"));
    bool panelShown = false;
    form.P_Image.AddObserver([&](TControl& c, TChange) { panelShown |= c.Left() == kShownLeft; });
    form.UpgradeClick();
    EXPECT_EQ(messages->Texts(), std::vector<std::string>{"E001: Warn ComPort to be unable to open"});
    EXPECT_FALSE(panelShown) << "the picture panel never came into view";
    EXPECT_EQ(form.Error.Caption(), "");
}

TEST_F(Form1Test, APortRefusedByItsPermissionsGetsTheHintAsTheBoxsSecondLine) {
    Choose(Generate("scanner-fw", "lb1y.bin", {}), 5);
    dir.Write("ttyUSB0", "");
    const std::string device = dir.File("ttyUSB0");
    test::LinkPort(dir, 5, device);
    chmod(device.c_str(), 0600);
    // The open is refused as the device's permissions would refuse it.
    struct RefusedDevice : test::FakeSerialDevice {
        using test::FakeSerialDevice::FakeSerialDevice;
        int OpenError() const override { return EACCES; }
    };
    auto line = std::make_shared<test::FakeLine>();
    line->openSucceeds = false;
    form.TolmSerialComm1.SetDeviceFactory([line](int) { return std::make_unique<RefusedDevice>(line); });

    form.UpgradeClick();
    ASSERT_EQ(messages->Texts().size(), 1u);
    const std::string box = messages->Texts().front();
    EXPECT_EQ(box.substr(0, box.find('\n')), "E001: Warn ComPort to be unable to open");
    EXPECT_EQ(box.substr(box.find('\n') + 1), PortAccessHint(device, EACCES));
    EXPECT_EQ(box.find("permission denied on " + device + " ("), box.find('\n') + 1) << box;
    EXPECT_FALSE(PortOpen(5));
}

TEST_F(Form1Test, KernelCheckCodesAndConnectionErrorReachTheResultLine) {
    Choose(Generate("scanner-fw", "lb1y.bin", {"kernel=2"}), 4);
    {
        auto dev = Start("scanner", 4, {"kernel=1"});
        form.UpgradeClick();
        EXPECT_EQ(form.Error.Caption(), "G006.5 Firmware dons not support this model");
    }
    {
        auto dev = Start("scanner", 4, {"kernel=2", "digit14=9"});
        form.UpgradeClick();
        EXPECT_EQ(form.Error.Caption(), "G006.8 Firmware dons not support this model");
    }
    test::PtyPair silent;
    test::LinkPort(dir, 4, silent.SlavePath());
    form.UpgradeClick();
    EXPECT_EQ(form.Error.Caption(), "G006.0 Connection Error");
    EXPECT_FALSE(PortOpen(4));
    EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
}

TEST_F(Form1Test, TidOneImageAsScannerOrDockAndNoAnswerAtAll) {
    Choose(Generate("tid-fw", "tw2y.bin", {"images=1", "blank=1-200"}), 5);
    {
        auto dev = Start("tid-dock", 5, {});
        form.UpgradeClick();
        EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
        EXPECT_FALSE(PortOpen(5));
        EXPECT_EQ(form.Label1.Caption(), "Com Port己成功關閉Com[ 5 ]");
    }
    test::PtyPair silent;
    test::LinkPort(dir, 5, silent.SlavePath());
    form.UpgradeClick();
    EXPECT_EQ(form.Error.Caption(), "G002.2 Host connection error.");
    EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
}

TEST_F(Form1Test, TidTwoImageFileSendsTheDockImageOnTheTimer) {
    Choose(Generate("tid-fw", "pair.bin", {"images=2", "blank=1-200", "dock-blank=1-200"}), 6);
    auto dev = Start("tid-pair", 6, {});
    std::vector<int> positions;
    form.PBar.AddObserver([&](TControl&, TChange c) {
        if (c == TChange::Position) positions.push_back(form.PBar.Position());
    });
    form.UpgradeClick();
    EXPECT_EQ(form.PBar.Max(), 512);
    EXPECT_TRUE(form.Docking_Times.Enabled());
    EXPECT_TRUE(PortOpen(6)) << "the port stays open for the second image";
    EXPECT_EQ(form.Error.Caption(), "");
    EXPECT_EQ(form.PBar.Position(), 256);
    ASSERT_TRUE(test::PumpUntil([&] { return !form.Docking_Times.Enabled() && !PortOpen(6); }, 120000));
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
    EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
    EXPECT_GT(*std::max_element(positions.begin(), positions.end()), 256) << "the dock image moves the bar on";
}

TEST_F(Form1Test, QuorinUpgradeStartsWithTheTerminalsAnnouncement) {
    Choose(Generate("quorin-firmware", "qr.bin", {"kernel=3"}), 7);
    auto dev = Start("quorin", 7, {"kernel=3", "announce-ms=200"});
    form.UpgradeClick();
    EXPECT_TRUE(PortOpen(7)) << "the press only opens the port";
    EXPECT_EQ(form.P_Image.Left(), kShownLeft);
    ASSERT_TRUE(test::PumpUntil([&] { return !form.Error.Caption().empty(); }, 240000));
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
    EXPECT_EQ(form.PBar.Max(), 532);
    EXPECT_FALSE(PortOpen(7));
    EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
}

TEST_F(Form1Test, AnnouncementOfAnotherDeviceTypeIsRefusedWithoutAcknowledgement) {
    Choose(Generate("quorin-firmware", "qr.bin", {}), 7);
    auto dev = Start("quorin", 7, {"type=4", "announce-ms=200"});
    form.UpgradeClick();
    ASSERT_TRUE(test::PumpUntil([&] { return !messages->Texts().empty(); }, 10000));
    EXPECT_EQ(messages->Texts().front(), "警告 Firmware 和機型不合");
    EXPECT_EQ(form.Error.Caption(), "");
    EXPECT_TRUE(PortOpen(7));
}

TEST_F(Form1Test, AnnouncementWhileAnotherFamilyIsChosenOnlyResetsTheBar) {
    Choose(Generate("scanner-fw", "lb1y.bin", {}), 1);
    TReceivePacket packet;
    packet.Bytes = TByteBuffer{0x7E, 0x7E, 0x03, 0, 0, 0, 1, 0, 0, 0, 0, 0x64, 0, 0, 'Q', 'R', '1', '0', '0', '0', 0, 0x7E};
    form.PBar.SetPosition(40);
    form.TolmSerialComm1ReceiveData(&packet);
    EXPECT_EQ(form.PBar.Max(), 532);
    EXPECT_EQ(form.PBar.Position(), 0);
    EXPECT_TRUE(messages->Texts().empty());
    packet.Bytes = packet.Bytes.Mid(0, 11);
    form.PBar.SetPosition(40);
    form.TolmSerialComm1ReceiveData(&packet);
    EXPECT_EQ(form.PBar.Position(), 40) << "11 bytes are no announcement";
}

TEST_F(Form1Test, KvFirmwareAndFontUpgrades) {
    Choose(Generate("kv-firmware", "kv.bin", {"kernel=3"}), 8);
    {
        auto dev = Start("kv", 8, {"kernel=3"});
        form.UpgradeClick();
        EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
        EXPECT_EQ(form.PBar.Max(), 512);
        EXPECT_FALSE(PortOpen(8));
    }
    chosen = Generate("kv-font", "f.fon", {"size=9000"});
    form.SelectFirmwareFile();
    {
        auto dev = Start("kv", 8, {});
        form.UpgradeClick();
        EXPECT_EQ(form.Error.Caption(), "Font Upgrade PASS");
        EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
    }
    test::PtyPair silent;
    test::LinkPort(dir, 8, silent.SlavePath());
    form.UpgradeClick();
    EXPECT_EQ(form.Error.Caption(), "G006.1 Firmware dons not support this model");
    EXPECT_FALSE(PortOpen(8));
}

TEST_F(Form1Test, UnrecognisedFileFreesThePortAndAsksForAnotherFile) {
    dir.Write("junk.bin", std::string(4096, 'x'));
    Choose(dir.File("junk.bin"), 2);
    test::PtyPair line;
    test::LinkPort(dir, 2, line.SlavePath());
    EXPECT_EQ(form.FirmwareFamily, 0);
    form.UpgradeClick();
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
    EXPECT_FALSE(PortOpen(2));
    EXPECT_EQ(form.P_Image.Left(), kHiddenLeft);
    EXPECT_TRUE(form.FirmwareFile.empty());
    const int before = dialogOpened;
    chosen.clear();  // the operator cancels the dialog this time
    form.UpgradeClick();
    EXPECT_EQ(dialogOpened, before + 1);
    EXPECT_TRUE(line.Read(300).empty()) << "nothing was sent";
}
