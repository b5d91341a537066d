// Bad firmware files through the window's own checks (TForm1 driven
// directly): too short, cut mid-image, a folder, unreadable, changed after the
// check, and names with spaces and non-ASCII characters. Each ends with a
// clear message or result line, and none of them is sent to a device.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "Programs.h"
#include "TestSupport.h"
#include "app/Unit1.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"

using namespace tolm;

namespace {

class BadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
        form.OpenDialog1.SetChooser([this](const TOpenDialog&, std::string& path) {
            if (chosen.empty()) return false;
            path = chosen;
            return true;
        });
        test::LinkPort(dir, 1, line.SlavePath());
    }

    std::string Generate(const std::string& kind, const std::string& name, const std::vector<std::string>& sets) {
        std::vector<std::string> args{"gen", kind, "--out", dir.File(name)};
        for (auto& s : sets) args.insert(args.end(), {"--set", s});
        EXPECT_EQ(test::Run(TOLM_DEVSIM, args, 30000).exitCode, 0);
        return dir.File(name);
    }

    // Chooses the file as the dialog does, and port n; the check runs as an
    // event handler, so an exception it raises is shown, not thrown.
    void Choose(const std::string& path, int port = 1) {
        chosen = path;
        TForm1::RunEvent([&] { form.SelectFirmwareFile(); });
        form.ComList.SetItemIndex(port - 1);
    }

    // Presses "Upgrade"; the operator cancels the dialog should it open again.
    void Press() {
        chosen.clear();
        TForm1::RunEvent([&] { form.UpgradeClick(); });
    }

    // Nothing was sent on port 1 and the port is not held.
    void ExpectNothingSent() {
        EXPECT_FALSE(form.TolmSerialComm1.HasDriver(1));
        EXPECT_TRUE(line.Read(200).empty()) << "bytes were sent for a refused file";
        EXPECT_NE(form.Error.Caption(), "Upgrade PASS");
    }

    test::TempDir dir;
    test::ScopedRecordingSink messages;
    test::PtyPair line;  // port 1: a line nobody answers on
    TForm1 form;
    std::string chosen;
};

}  // namespace

TEST_F(BadFileTest, FilesTooShortForATrailerAreNeverSent) {
    Generate("scanner-fw", "full.bin", {});
    const std::string full = dir.Read("full.bin");
    for (size_t size : {0u, 1u, 1023u, 1024u, 1045u}) {
        SCOPED_TRACE("file of " + std::to_string(size) + " bytes");
        const std::string name = "head-" + std::to_string(size) + ".bin";
        dir.Write(name, full.substr(0, size));
        Choose(dir.File(name));
        // No family in its trailer: kept, and refused at the press.
        EXPECT_EQ(form.FirmwareFamily, 0);
        Press();
        EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
        EXPECT_TRUE(form.FirmwareFile.empty());
        ExpectNothingSent();
    }
    EXPECT_TRUE(messages->Texts().empty());
}

TEST_F(BadFileTest, ScannerFileShorterThanOneImageIsRefusedAtItsCheck) {
    Generate("scanner-fw", "full.bin", {});
    const std::string full = dir.Read("full.bin");
    const std::string trailerBlock = full.substr(full.size() - 1024);
    // The shortest file with a readable trailer (21 bytes before the trailer
    // block), one block and the trailer, and a whole image less one block.
    for (size_t imageBytes : {21u, 1024u, 262144u - 1024u}) {
        SCOPED_TRACE(std::to_string(imageBytes) + " image bytes");
        dir.Write("short.bin", full.substr(0, imageBytes) + trailerBlock);
        Choose(dir.File("short.bin"));
        EXPECT_EQ(form.FirmwareFamily, 2);
        EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
        EXPECT_TRUE(form.FirmwareFile.empty());
        EXPECT_EQ(form.Path.Caption(), "");
        Press();
        ExpectNothingSent();
    }
    // A file cut mid-image loses its trailer with its end.
    Choose(Generate("scanner-fw", "cut.bin", {"truncate=150000"}));
    EXPECT_EQ(form.FirmwareFamily, 0);
    Press();
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
    ExpectNothingSent();
}

TEST_F(BadFileTest, FolderOrUnreadableFileGivesAnOpenErrorAndNothingIsSent) {
    std::filesystem::create_directory(dir.File("folder.bin"));
    Choose(dir.File("folder.bin"));
    ASSERT_EQ(messages->Texts().size(), 1u);
    EXPECT_NE(messages->Texts()[0].find("Cannot open file"), std::string::npos) << messages->Texts()[0];
    EXPECT_EQ(form.FirmwareFamily, 0);
    Press();
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
    ExpectNothingSent();

    if (geteuid() == 0) GTEST_SKIP() << "running as root, which reads a file without read permission";
    messages->Clear();
    auto fw = Generate("scanner-fw", "locked.bin", {});
    chmod(fw.c_str(), 0);
    Choose(fw);
    ASSERT_EQ(messages->Texts().size(), 1u);
    EXPECT_NE(messages->Texts()[0].find("Permission denied"), std::string::npos) << messages->Texts()[0];
    Press();
    ExpectNothingSent();
}

TEST_F(BadFileTest, FifoNamedLikeAFirmwareFileIsRefusedWithoutWaiting) {
    // Nobody ever writes into it: any open or read that waits for a writer hangs here.
    const std::string fifo = dir.File("fifo.bin");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    Choose(fifo);
    ASSERT_EQ(messages->Texts().size(), 1u);
    EXPECT_NE(messages->Texts()[0].find("Cannot open file"), std::string::npos) << messages->Texts()[0];
    EXPECT_EQ(form.FirmwareFamily, 0);
    Press();
    ExpectNothingSent();

    // Every loader refuses it as it refuses a missing file.
    TKV_Packet kv;
    kv.FirmwareSize = 4096;
    EXPECT_EQ(kv.CheckUpgradeFileVer(fifo), -1);
    EXPECT_EQ(kv.LoadFileToMemoryFont(fifo), -1);
    EXPECT_EQ(kv.LoadFileToMemory(fifo), -1);
    TQuorin_Packet quorin;
    EXPECT_EQ(quorin.CheckUpgradeFileVer(fifo), -1);
    EXPECT_EQ(TQuorin_Packet::GetFileSize(fifo), 0);
    TScan_Packet scan;
    EXPECT_EQ(scan.CheckUpgradeFileVer(fifo), -1);
    TScan_TID_Packet tid;
    EXPECT_EQ(tid.CheckUpgradeFileVer(fifo), -1);
    EXPECT_EQ(tid.DecomposeRomFile(fifo, dir.Path()), -1);
}

TEST_F(BadFileTest, UnreadableQuorinFileIsAFileErrorNotAnOldVersion) {
    if (geteuid() == 0) GTEST_SKIP() << "running as root, which reads a file without read permission";
    auto fw = Generate("quorin-firmware", "qr.bin", {});
    chmod(fw.c_str(), 0);
    TQuorin_Packet quorin;
    EXPECT_EQ(quorin.CheckUpgradeFileVer(fw), -1);
}

TEST_F(BadFileTest, ScannerFileChangedAfterItsCheckIsNotSent) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {});
    // Cut short, as by a copy that is still being written.
    Choose(fw);
    ASSERT_EQ(form.FirmwareFile, fw);
    std::filesystem::resize_file(fw, 100000);
    Press();
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
    EXPECT_TRUE(form.FirmwareFile.empty()) << "the file must be chosen again";
    ExpectNothingSent();

    // Replaced by a file of the same size: its trailer was never checked.
    fw = Generate("scanner-fw", "lb1y.bin", {});
    Choose(fw);
    ASSERT_EQ(form.FirmwareFile, fw);
    std::filesystem::last_write_time(fw, std::filesystem::last_write_time(fw) + std::chrono::seconds(2));
    Press();
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
    ExpectNothingSent();

    // Chosen again, it goes to the port (nobody answers there).
    Choose(fw);
    Press();
    EXPECT_EQ(form.Error.Caption(), "G006.0 Connection Error");
    EXPECT_FALSE(line.Read(1000).empty()) << "an unchanged file is tried on the port";
}

TEST_F(BadFileTest, DockImageIsNotSentWhenTheFileChangedDuringThePause) {
    auto fw = Generate("tid-fw", "pair.bin", {"images=2", "blank=1-200", "dock-blank=1-200"});
    test::BackgroundDevice dev(TOLM_DEVSIM, {"run", "tid-pair", "--link", dir.File("COM6"), "--image-out",
                                             dir.File("image")});
    ASSERT_FALSE(dev.Pty().empty());
    Choose(fw, 6);
    form.UpgradeClick();
    ASSERT_TRUE(form.Docking_Times.Enabled()) << form.Error.Caption();
    std::filesystem::resize_file(fw, 263168 + 4096);
    form.Docking_TimesTimer();
    EXPECT_EQ(form.Error.Caption(), "G001.1 Upgrade file invalid");
    EXPECT_FALSE(form.TolmSerialComm1.HasDriver(6));
    dev.Stop();
    const std::string image = dir.Read("image");
    ASSERT_EQ(image.size(), 2u * 262144);
    EXPECT_TRUE(image.substr(262144) == std::string(262144, '\xFF')) << "the docking station was written";
}

TEST_F(BadFileTest, NameWithSpacesAndNonAsciiCharactersIsCheckedAndShown) {
    std::filesystem::create_directory(dir.File("韌體 folder"));
    Choose(Generate("scanner-fw", "韌體 folder/掃描器 ü v1.bin", {}));
    EXPECT_EQ(form.FirmwareFamily, 2);
    EXPECT_FALSE(form.FirmwareFile.empty());
    EXPECT_EQ(form.Path.Caption(), "掃描器 ü v1.bin");
    EXPECT_TRUE(messages->Texts().empty());
}
