// Quorin exchanges against a scripted terminal on a pseudo-terminal: what is
// accepted as a reply, what the requests carry, retries and where they stop.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "TerminalLine.h"
#include "TestSupport.h"
#include "protocol/Quorin_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

using namespace tolm;
using tolm::test::ScriptedPeer;
using tolm::test::TerminalReply;

namespace {

constexpr uint8_t kType = 0x03;
const TByteBuffer kAckReply = TerminalReply(kType, 0x06);
const TByteBuffer kRefusal = TerminalReply(kType, 0x15);  // 14 bytes, but not an acknowledgement

TByteBuffer InfoReply(uint8_t command, uint8_t kernel) {
    TByteBuffer data{0x00, 0x00, 'Q', 'R', '1', 'Y', 0, 0, 0, 0, 0, kernel, 0, 0, 0, 0, 0, 0};
    return TerminalReply(kType, command, data);
}

std::string Firmware(int bodySize) {
    std::string file(static_cast<size_t>(bodySize) + 1024, '\0');
    for (size_t i = 0; i < file.size(); ++i) file[i] = static_cast<char>(i * 31 + 7);
    return file;
}

class QuorinLine : public ::testing::Test {
protected:
    void SetUp() override {
        test::LinkPort(dir, 7, pty.SlavePath());
        ASSERT_EQ(comm.OpenComPort(7, "115200,n,8,1"), 0);
        q.PortNumber = 7;
        q.TerminalID = {0x00, 0x00, 0x00, 0x01};
    }
    void TearDown() override { comm.CloseComPort(7); }

    test::TempDir dir;
    test::PtyPair pty;
    TTolmSerialComm comm;
    TQuorin_Packet q;
};

}  // namespace

TEST_F(QuorinLine, IdentificationReplyIsJudgedByLengthAndKernelByteOnly) {
    std::vector<TByteBuffer> replies;
    TByteBuffer bad = InfoReply(0x55, 4);  // wrong command byte ...
    bad[30] ^= 0xFF;                       // ... and wrong check byte
    replies.push_back(bad);
    replies.push_back(InfoReply(0x10, 5));
    replies.push_back(InfoReply(0x10, 4).Mid(0, 31));
    size_t next = 0;
    ScriptedPeer peer(pty.MasterFd(), ScriptedPeer::AddressedLengths(1024),
                      [&](const TByteBuffer&) { return next < replies.size() ? replies[next++] : TByteBuffer(); });
    q.KernelDigit = 4;
    EXPECT_EQ(q.CheckUpgradeKernel(&comm), 0);
    EXPECT_EQ(q.CheckUpgradeKernel(&comm), -1);
    EXPECT_EQ(q.CheckUpgradeKernel(&comm), -2);
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0], (TByteBuffer{0x7E, 0x7E, 0x03, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0x12, 0x7E}));
}

TEST_F(QuorinLine, StartAnnouncesTheBodySizeAndEndGivesUpAfterThreeRefusals) {
    dir.Write("fw.bin", Firmware(547 * 1024));
    q.FirmwareSize = TQuorin_Packet::GetFileSize(dir.File("fw.bin"));
    ScriptedPeer peer(pty.MasterFd(), ScriptedPeer::AddressedLengths(1024), [](const TByteBuffer& r) {
        return r[11] == 0x70 && r[12] == 0x02 ? kRefusal : kAckReply;
    });
    EXPECT_TRUE(q.Send_70_StartPacket(&comm));
    EXPECT_FALSE(q.Send_70_EndPacket(&comm));
    auto requests = peer.Requests();
    ASSERT_EQ(requests.size(), 4u);
    ASSERT_EQ(requests[0].Length(), 19);
    EXPECT_EQ(requests[0].Mid(11, 6), (TByteBuffer{0x70, 0x00, 0x00, 0x08, 0x8C, 0x00})) << "560128 bytes";
    for (int i = 1; i < 4; ++i) EXPECT_EQ(requests[static_cast<size_t>(i)].Mid(11, 2), (TByteBuffer{0x70, 0x02}));
}

TEST_F(QuorinLine, ConnectStartWantsExactlyAnAcknowledgement) {
    std::vector<TByteBuffer> replies{kAckReply, kRefusal, TerminalReply(kType, 0x06, {0x00})};
    size_t next = 0;
    ScriptedPeer peer(pty.MasterFd(), ScriptedPeer::AddressedLengths(1024),
                      [&](const TByteBuffer&) { return replies[next++ % replies.size()]; });
    EXPECT_TRUE(q.Send_07_Connect_Start(&comm));
    EXPECT_FALSE(q.Send_07_Connect_Start(&comm));
    EXPECT_FALSE(q.Send_07_Connect_Start(&comm)) << "15 bytes are no acknowledgement";
    EXPECT_EQ(peer.Requests().size(), 3u) << "no retry";
}

TEST_F(QuorinLine, FileRequestsCarryTheirNamesAndRepliesAreRead) {
    int directoryReplies = 0;  // the peer's thread only
    ScriptedPeer peer(pty.MasterFd(), [](const TByteBuffer& p) -> int {
        if (p.Length() < 13) return 0;
        if (p[11] == 0x6A || p[11] == 0x73) return p.Length() >= 15 ? 15 : 0;
        // A named request ends with the name's 0x00, one more 0x00, check byte and flag.
        for (int i = 12; i + 3 < p.Length(); ++i)
            if (p[i] == 0x00 && p[i + 1] == 0x00) return i + 4;
        return 0;
    },
                      [&](const TByteBuffer& r) -> TByteBuffer {
                          switch (r[11]) {
                              case 0x66: return kAckReply;
                              case 0x6A: return TerminalReply(kType, 0x6A, {0, 0, 1, 0, 0, 0, 2, 0});
                              case 0x73: {
                                  // The first reply announces more text than it holds.
                                  std::string text = "A.TXT|12";
                                  const int count = ++directoryReplies == 1 ? 40 : static_cast<int>(text.size());
                                  TByteBuffer data{r[12], static_cast<uint8_t>(count)};
                                  data.Append(TByteBuffer::FromText(text));
                                  return TerminalReply(kType, 0x73, data);
                              }
                              default: return {};
                          }
                      });
    EXPECT_EQ(q.Send_66_Delete(&comm, 1, "old.txt", nullptr), 0);
    EXPECT_EQ(q.Send_6A_CheckDiskFree(&comm, 0), 256u);
    EXPECT_EQ(q.Send_6A_CheckDiskFree(&comm, 1), 512u);
    EXPECT_EQ(q.Send_6A_CheckDiskFree(&comm, 2), 0u) << "no third figure";
    EXPECT_EQ(q.Send_73_Dir(&comm, 0), "A.TXT|12") << "a cut reply is asked for again";
    auto requests = peer.Requests();
    EXPECT_EQ(requests.size(), 6u);
    ASSERT_GE(requests.size(), 1u);
    TByteBuffer expected = TByteBuffer::FromText("B:OLD.TXT");
    expected.Append(0x00);
    expected.Append(0x00);
    EXPECT_EQ(requests[0].Mid(12, expected.Length()), expected);
}

// The data phase: a refused packet is sent again after 100 ms and after
// 1000 ms; the third refusal stops the download where it is.
TEST_F(QuorinLine, DataPacketsAreRetriedTwiceThenTheDownloadStops) {
    dir.Write("fw.bin", Firmware(547 * 1024));
    ASSERT_EQ(q.LoadFileToMemory(dir.File("fw.bin")), 0);
    std::map<int, int> attempts;  // touched by the peer's thread only
    ScriptedPeer peer(pty.MasterFd(), ScriptedPeer::AddressedLengths(1024), [&](const TByteBuffer& r) {
        if (r[11] != 0x70 || r[12] != 0x01) return kAckReply;
        const int packet = frame::ReadBigEndian16(r, 13);
        const int attempt = ++attempts[packet];
        const bool refuse = (packet == 150 && attempt == 1) || (packet == 299 && attempt <= 2) || packet == 300;
        return refuse ? kRefusal : kAckReply;
    });
    TProgressBar bar("ProgressBar1");
    bar.SetMax(546);
    TPanel panel("Panel1");
    EXPECT_FALSE(q.Send_70_Packet(&comm, &bar, &panel));
    EXPECT_EQ(bar.Position(), 299);
    EXPECT_EQ(panel.Caption(), "300");

    std::vector<int> expected;
    for (int p = 0; p <= 300; ++p) {
        expected.push_back(p);
        if (p == 150) expected.push_back(p);
        if (p == 299 || p == 300) expected.insert(expected.end(), 2, p);
    }
    std::vector<int> sent;
    for (auto& r : peer.Requests()) {
        ASSERT_EQ(r, q.BlockPacket[frame::ReadBigEndian16(r, 13)]) << "the prepared frame, unchanged";
        sent.push_back(frame::ReadBigEndian16(r, 13));
    }
    EXPECT_EQ(sent, expected);
}
