// KV exchanges and command files against a scripted terminal on a
// pseudo-terminal.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "TerminalLine.h"
#include "TestSupport.h"
#include "protocol/Kv_packet.h"
#include "serial/Tolmserialcomm.h"

using namespace tolm;
using tolm::test::ScriptedPeer;
using tolm::test::TerminalReply;

namespace {

TByteBuffer InfoReply(const TByteBuffer& block) {
    TByteBuffer data{0x00, 0x00};
    data.Append(block);
    return TerminalReply(TKV_Packet::kDeviceType, 0x10, data);
}

TByteBuffer KvBlock() { return TByteBuffer(TKV_Packet::kIdentification.data(), TKV_Packet::kIdentification.size()); }

// Sizes of the bursts in which bytes arrived, split at quiet gaps of gapMs.
std::vector<int> Bursts(const std::vector<ScriptedPeer::Chunk>& chunks, int gapMs) {
    std::vector<int> sizes;
    ScriptedPeer::Clock::time_point last{};
    for (auto& c : chunks) {
        if (sizes.empty() || c.at - last >= std::chrono::milliseconds(gapMs))
            sizes.push_back(0);
        sizes.back() += c.bytes.Length();
        last = c.at;
    }
    return sizes;
}

class KvLine : public ::testing::Test {
protected:
    void SetUp() override {
        test::LinkPort(dir, 8, pty.SlavePath());
        ASSERT_EQ(comm.OpenComPort(8, "38400,n,8,1"), 0);
        kv.PortNumber = 8;
    }
    void TearDown() override { comm.CloseComPort(8); }

    test::TempDir dir;
    test::PtyPair pty;
    TTolmSerialComm comm;
    TKV_Packet kv;
};

}  // namespace

TEST_F(KvLine, IdentificationMustBeTheFixedBlockInExactly32Bytes) {
    TByteBuffer wrongCheck = InfoReply(KvBlock());
    wrongCheck[30] ^= 0x5A;
    TByteBuffer longer = InfoReply(KvBlock());
    longer.Append(0x7E);
    TByteBuffer otherKernel = KvBlock();
    otherKernel[9] = 4;
    std::vector<TByteBuffer> replies{wrongCheck, longer, InfoReply(otherKernel), InfoReply(otherKernel)};
    size_t next = 0;
    ScriptedPeer peer(pty.MasterFd(), ScriptedPeer::AddressedLengths(4096),
                      [&](const TByteBuffer&) { return next < replies.size() ? replies[next++] : TByteBuffer(); });
    EXPECT_TRUE(kv.Check_10_InfoPacket(&comm));
    EXPECT_FALSE(kv.Check_10_InfoPacket(&comm)) << "33 bytes";
    EXPECT_FALSE(kv.Check_10_InfoPacket(&comm)) << "kernel 4 is not the fixed block";
    kv.KernelDigit = 4;
    EXPECT_EQ(kv.CheckUpgradeKernel(&comm), 0);
    kv.ReplyTimeout = 300;
    EXPECT_EQ(kv.CheckUpgradeKernel(&comm), -2) << "no terminal answering";
    EXPECT_EQ(peer.Requests()[0], (TByteBuffer{0x7E, 0x7E, 0x04, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0x15, 0x7E}));
}

TEST_F(KvLine, UpgradeModeAndQuitGoOutAsTheyShould) {
    ScriptedPeer peer(pty.MasterFd(), nullptr, nullptr);
    EXPECT_FALSE(kv.Send_UpgradeMode(&comm));
    EXPECT_TRUE(test::PumpUntil([&] { return peer.Received().Length() >= 3; }, 5000));
    EXPECT_EQ(peer.Received(), (TByteBuffer{0x1B, 0x1B, 0x55})) << "raw, without a frame";
}

TEST_F(KvLine, ChunkedCommandFileIsPacedAndEndsWithTheRemainder) {
    dir.Write("ten.bin", "0123456789");
    dir.Write("eight.bin", "abcdefgh");
    ScriptedPeer peer(pty.MasterFd(), nullptr, nullptr);
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, dir.File("ten.bin"), 4, 700), 0);
    EXPECT_TRUE(test::PumpUntil([&] { return peer.Received().Length() >= 10; }, 5000));
    EXPECT_EQ(peer.Received().ToText(), "0123456789");
    EXPECT_EQ(Bursts(peer.Chunks(), 350), (std::vector<int>{4, 4, 2}));

    // Wait out the quiet gap so the next file's bursts are told apart.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const size_t before = peer.Chunks().size();
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, dir.File("eight.bin"), 4, 700), 0);
    EXPECT_TRUE(test::PumpUntil([&] { return peer.Received().Length() >= 18; }, 5000));
    auto chunks = peer.Chunks();
    chunks.erase(chunks.begin(), chunks.begin() + static_cast<long>(before));
    EXPECT_EQ(Bursts(chunks, 350), (std::vector<int>{4, 4})) << "no remainder send";
}

TEST_F(KvLine, CommandFilesGoOutUnchangedAndUnreadableOnesNotAtAll) {
    std::string bytes("\x1B" "A\x00\x7E" "cmd\r\n", 9);
    dir.Write("cmd.bin", bytes);
    ScriptedPeer peer(pty.MasterFd(),
                      [&](const TByteBuffer& p) { return p.Length() >= 9 ? 9 : 0; },
                      [](const TByteBuffer&) { return TByteBuffer::FromText("OK"); });
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, ""), -1);
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, dir.File("missing.bin")), -1);
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, dir.File("missing.bin"), 4, 0), -1);
    EXPECT_EQ(kv.Send_Command_from_TxtFile(&comm, dir.File("missing.txt")), -1);
    EXPECT_TRUE(kv.Send_Command_from_BinFile_ReceiveByte(&comm, dir.File("missing.bin")).IsEmpty());
    EXPECT_TRUE(kv.Send_Command_from_BinFile_ReceiveByte(&comm, "").IsEmpty());
    test::Pump(300);
    EXPECT_TRUE(peer.Received().IsEmpty()) << "nothing sent for a file that cannot be read";

    EXPECT_EQ(kv.Send_Command_from_BinFile_ReceiveByte(&comm, dir.File("cmd.bin")).ToText(), "OK");
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, dir.File("cmd.bin")), 0);
    EXPECT_EQ(kv.Send_Command_from_TxtFile(&comm, dir.File("cmd.bin")), 0);
    EXPECT_TRUE(test::PumpUntil([&] { return peer.Received().Length() >= 27; }, 5000));
    EXPECT_EQ(peer.Received().ToText(), bytes + bytes + bytes);
}

TEST(KvCommandFile, GivesUpAfter500FailedSends) {
    test::TempDir dir;
    test::ScopedRecordingSink sink;
    dir.Write("cmd.bin", "0123456789");
    TTolmSerialComm comm;  // port 9 is not open: every send fails
    TKV_Packet kv;
    kv.PortNumber = 9;
    EXPECT_EQ(kv.Send_Command_from_BinFile(&comm, dir.File("cmd.bin"), 4, 0), -1);
    EXPECT_EQ(sink->Texts(), std::vector<std::string>{"無法傳送資料"});
}
