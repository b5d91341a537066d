// The KV protocol object against the emulated KV terminal of tolm-devsim over
// a pseudo-terminal: a firmware upgrade and a font upgrade, after which the
// terminal's flash holds exactly the non-blank entries at their data positions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "TerminalLine.h"
#include "TestSupport.h"
#include "protocol/Kv_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

#ifdef TOLM_DEVSIM

using namespace tolm;
using tolm::test::Devsim;

namespace {

constexpr int kFlashSize = 2 << 20;

// The entry numbers shown on the panel, in order.
void RecordShown(TPanel& panel, std::vector<int>& shown) {
    panel.AddObserver([&shown](TControl& c, TChange change) {
        if (change == TChange::Repaint) shown.push_back(std::stoi(c.Caption()));
    });
}

// What the flash should hold: fill everywhere, the file's 4096-byte entries
// (padded with 0xFF) at the given flash offsets.
std::string ExpectedFlash(const std::string& fileData, const std::vector<int>& entries, int firstOffset) {
    std::string flash(kFlashSize, '\0');
    for (int i : entries) {
        std::string entry = fileData.substr(std::min(fileData.size(), static_cast<size_t>(i) * 4096), 4096);
        entry.resize(4096, '\xFF');
        flash.replace(static_cast<size_t>(firstOffset + i * 4096), 4096, entry);
    }
    return flash;
}

class KvDevsim : public ::testing::Test {
protected:
    void SetUp() override { setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1); }

    // Starts the terminal (flash filled with 0x00, so unsent entries show) and
    // switches it into upgrade mode as the driver does.
    void StartInUpgradeMode() {
        sim = std::make_unique<Devsim>(std::vector<std::string>{
            "run", "kv", "--link", dir.File("COM8"), "--image-out", dir.File("flash"), "--set", "flash-fill=0"});
        ASSERT_FALSE(sim->WaitForPty().empty());
        kv.PortNumber = 8;
        ASSERT_EQ(comm.OpenComPort(8, "9600,n,8,1"), 0);
        kv.Send_UpgradeMode(&comm);
        ASSERT_EQ(comm.CloseComPort(8), 0);
        ASSERT_EQ(comm.OpenComPort(8, "38400,n,8,1"), 0);
        TKV_Packet::Wait(200);
        ASSERT_TRUE(kv.Check_10_InfoPacket(&comm));
    }

    std::string StopAndReadFlash() {
        comm.CloseComPort(8);
        EXPECT_EQ(sim->Stop(), 0);
        return dir.Read("flash");
    }

    test::TempDir dir;
    TTolmSerialComm comm;
    TKV_Packet kv;
    std::unique_ptr<Devsim> sim;
};

}  // namespace

TEST_F(KvDevsim, FirmwareUpgradeWritesOnlyTheNonBlankEntries) {
    // Body of 10 entries with entries 1 and 2 blank; entry 10 holds the trailer.
    const std::string fw = dir.File("fw.bin");
    ASSERT_EQ(Devsim::Generate({"gen", "kv-firmware", "--out", fw, "--set", "body-size=40960", "--set",
                                "blank=4096-12288", "--set", "seed=3"}),
              0);
    ASSERT_NO_FATAL_FAILURE(StartInUpgradeMode());
    kv.FirmwareSize = TKV_Packet::GetFileSize(fw);
    ASSERT_EQ(kv.CheckUpgradeFileVer(fw), 0);
    ASSERT_EQ(kv.LoadFileToMemory(fw), 0);
    EXPECT_EQ(kv.CheckUpgradeKernel(&comm), 0);

    TProgressBar bar("ProgressBar1");
    bar.SetMax(512);
    TPanel panel("Panel1");
    std::vector<int> shown;
    RecordShown(panel, shown);
    ASSERT_TRUE(kv.Send_70_StartPacket(&comm));
    ASSERT_TRUE(kv.Send_70_Packet(&comm, &bar, &panel));
    EXPECT_TRUE(kv.Send_70_EndPacket(&comm));
    const std::vector<int> nonBlank{0, 3, 4, 5, 6, 7, 8, 9, 10};
    EXPECT_EQ(shown, nonBlank);
    EXPECT_EQ(bar.Position(), 10);

    std::string decoded = dir.Read("fw.bin");
    for (char& c : decoded) c = static_cast<char>(static_cast<uint8_t>(c) - 10);
    const std::string flash = StopAndReadFlash();
    ASSERT_EQ(flash.size(), static_cast<size_t>(kFlashSize));
    EXPECT_TRUE(flash == ExpectedFlash(decoded, nonBlank, 0)) << "flash differs from the non-blank entries";
}

TEST_F(KvDevsim, FontUpgradeWritesItsEntriesFromDataPosition512) {
    // 10000 bytes: entry 0 blank, entry 1 full, entry 2 partly filled.
    const std::string font = dir.File("font.fon");
    ASSERT_EQ(Devsim::Generate({"gen", "kv-font", "--out", font, "--set", "size=10000", "--set", "blank=0-4096"}),
              0);
    ASSERT_NO_FATAL_FAILURE(StartInUpgradeMode());
    kv.FirmwareSize = TKV_Packet::GetFileSize(font);
    ASSERT_EQ(kv.LoadFileToMemoryFont(font), 0);

    TProgressBar bar("ProgressBar1");
    TPanel panel("Panel1");
    std::vector<int> shown;
    RecordShown(panel, shown);
    ASSERT_TRUE(kv.Send_70_StartPacket(&comm));
    ASSERT_TRUE(kv.Send_70_Packet_Font(&comm, &bar, &panel));
    EXPECT_TRUE(kv.Send_70_EndPacket(&comm));
    EXPECT_EQ(bar.Max(), 3);
    EXPECT_EQ(shown, (std::vector<int>{1, 2}));

    const std::string flash = StopAndReadFlash();
    ASSERT_EQ(flash.size(), static_cast<size_t>(kFlashSize));
    EXPECT_TRUE(flash == ExpectedFlash(dir.Read("font.fon"), {1, 2}, 512 * 1024))
        << "font entries belong at data position 512 + 4i";
}

#endif  // TOLM_DEVSIM
