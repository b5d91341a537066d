// A whole Quorin firmware download against the emulated terminal of
// tolm-devsim, started by the terminal's announcement. With one exchange per
// polling pass of the serial component it takes about a minute, so it has a
// test binary of its own that can run beside the other protocol tests.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "TerminalLine.h"
#include "TestSupport.h"
#include "protocol/Quorin_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

#ifdef TOLM_DEVSIM

using namespace tolm;
using tolm::test::Devsim;

namespace {

// The terminal's announcement: a received chunk with 0x64 at frame offset 11.
TByteBuffer WaitForAnnouncement(TTolmSerialComm& comm, int port) {
    for (int i = 0; i < 10; ++i) {
        TByteBuffer bytes = comm.ReceiveByte(port, 1000);
        if (bytes.Length() >= 20 && bytes[frame::kCommandOffset] == frame::kAnnounce) return bytes;
    }
    return {};
}

}  // namespace

TEST(QuorinDownload, AfterTheAnnouncementTheTerminalHoldsTheBody) {
    test::TempDir dir;
    setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
    const std::string fw = dir.File("fw.bin");
    ASSERT_EQ(Devsim::Generate({"gen", "quorin-firmware", "--out", fw, "--set", "version=106", "--set", "kernel=4",
                                "--set", "seed=7", "--set", "blank=1024-5000"}),
              0);
    Devsim sim({"run", "quorin", "--link", dir.File("COM7"), "--image-out", dir.File("image"), "--set",
                "announce-ms=200", "--set", "kernel=4", "--set", "id=0A0B0C0D", "--set", "name=QR2000"});
    ASSERT_FALSE(sim.WaitForPty().empty());

    TTolmSerialComm comm;
    ASSERT_EQ(comm.OpenComPort(7, "115200,n,8,1"), 0);
    TQuorin_Packet q;
    q.PortNumber = 7;
    TByteBuffer announcement = WaitForAnnouncement(comm, 7);
    ASSERT_FALSE(announcement.IsEmpty());
    q.SetTerminalID(announcement);
    EXPECT_EQ(q.TerminalID, (TByteBuffer{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(TQuorin_Packet::GetTerminalName(announcement), "QR2000");
    q.SendACK(&comm);

    q.FirmwareSize = TQuorin_Packet::GetFileSize(fw);
    ASSERT_EQ(q.CheckUpgradeFileVer(fw), 0);
    EXPECT_EQ(q.KernelDigit, 4);
    EXPECT_FALSE(q.Send_07_Connect_Start(&comm)) << "the terminal stays silent: the download goes on";
    EXPECT_EQ(q.CheckUpgradeKernel(&comm), 0);
    ASSERT_EQ(q.LoadFileToMemory(fw), 0);
    TProgressBar bar("ProgressBar1");
    bar.SetMax(546);
    TPanel panel("Panel1");
    ASSERT_TRUE(q.Send_70_StartPacket(&comm));
    ASSERT_TRUE(q.Send_70_Packet(&comm, &bar, &panel));
    EXPECT_TRUE(q.Send_70_EndPacket(&comm));
    EXPECT_EQ(bar.Position(), 546);
    EXPECT_EQ(panel.Caption(), "546");
    EXPECT_EQ(comm.CloseComPort(7), 0);
    EXPECT_EQ(sim.Stop(), 0);

    std::string body = dir.Read("fw.bin");
    ASSERT_EQ(body.size(), 547u * 1024 + 1024);
    body.resize(body.size() - 1024);
    for (char& c : body) c = static_cast<char>(static_cast<uint8_t>(c) - 10);
    const std::string image = dir.Read("image");
    ASSERT_EQ(image.size(), body.size());
    EXPECT_TRUE(image == body) << "the terminal's body differs from the file minus its trailer, minus 10";
}

#endif  // TOLM_DEVSIM
