#include <gtest/gtest.h>

#include <sys/stat.h>

#include "TestSupport.h"
#include "base/Logfile.h"
#include "protocol/Frame.h"
#include "protocol/Packetframe.h"

using namespace tolm;

namespace {
class QuorinLike : public TPacketFrame {
public:
    QuorinLike() : TPacketFrame(THexDump::ShortDigit) {}
    using TPacketFrame::AddressedRequest;
};
class KvLike : public TPacketFrame {
public:
    KvLike() : TPacketFrame(THexDump::TwoDigit) {}
};
}  // namespace

TEST(Frame, WrapsPayloadWithXorCheckAndNoEscaping) {
    EXPECT_EQ(TPacketFrame::SetLRC({}), (TByteBuffer{0x7E, 0x7E, 0x00, 0x7E}));
    // 0x7E inside the payload and as check byte is sent as it is.
    EXPECT_EQ(TPacketFrame::SetLRC({0x7E}), (TByteBuffer{0x7E, 0x7E, 0x7E, 0x7E, 0x7E}));
    EXPECT_EQ(TPacketFrame::SetLRC({0x01, 0x70, 0x02}), (TByteBuffer{0x7E, 0x7E, 0x01, 0x70, 0x02, 0x73, 0x7E}));
}

TEST(Frame, AddressedAcknowledgementOfTerminal00000001) {
    QuorinLike q;
    EXPECT_TRUE(q.AddressedRequest(0x03, 0x06).IsEmpty()) << "no terminal ID yet: nothing to send";
    q.TerminalID = {0, 0, 0, 1};
    const TByteBuffer ack{0x7E, 0x7E, 0x03, 0, 0, 0, 0, 0, 0, 0, 1, 0x06, 0x04, 0x7E};
    EXPECT_EQ(q.AddressedRequest(0x03, 0x06), ack);
    EXPECT_TRUE(frame::IsAddressedAck(ack));
    auto wrongCheck = ack;
    wrongCheck[12] = 0x55;
    EXPECT_TRUE(frame::IsAddressedAck(wrongCheck));
    EXPECT_FALSE(frame::IsAddressedAck(ack.Mid(0, 13)));
    EXPECT_FALSE(frame::IsAddressedAck({}));
}

TEST(Frame, BigEndianFieldsAndTwosComplement) {
    EXPECT_EQ(frame::BigEndian32(560128), (TByteBuffer{0x00, 0x08, 0x8C, 0x00}));
    EXPECT_EQ(frame::BigEndian32(-1), (TByteBuffer{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(frame::BigEndian16(0x10400), (TByteBuffer{0x04, 0x00}));
    EXPECT_EQ(frame::ReadBigEndian32(TByteBuffer{0x00, 0x04, 0x00, 0x00}, 0), 262144u);
}

TEST(Frame, TerminalIdentityFromAnnouncement) {
    QuorinLike q;
    TByteBuffer announce{0x7E, 0x7E, 0x03, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0, 0x64, 0, 0, 'Q', 'R', '1', '0', '0', '0'};
    q.SetTerminalID(announce);
    EXPECT_EQ(q.TerminalID, (TByteBuffer{0x12, 0x34, 0x56, 0x78}));
    EXPECT_EQ(TPacketFrame::GetTerminalName(announce), "QR1000");
    EXPECT_EQ(TPacketFrame::GetTerminalName(announce.Mid(0, 19)), "");
    q.SetTerminalID(announce.Mid(0, 6));  // too short: ID kept
    EXPECT_EQ(q.TerminalID, (TByteBuffer{0x12, 0x34, 0x56, 0x78}));
}

TEST(HexDump, BothStylesWithTrailingCommaAndShortBuffers) {
    test::TempDir dir;
    SetLogPath(dir.File("log"));
    test::ScopedRecordingSink sink;
    const TByteBuffer ack{0x7E, 0x7E, 0x03, 0, 0, 0, 0, 0, 0, 0, 1, 0x06, 0x04, 0x7E};
    QuorinLike q;
    KvLike kv;
    q.ShowByte(ack);
    kv.ShowByte(ack);
    kv.ShowByte({});
    q.ShowByte({0x41});
    EXPECT_EQ(dir.Read("log"),
              "7E,7E,3,0,0,0,0,0,0,0,1,6,4,7E,\r\n"
              "7E,7E,03,00,00,00,00,00,00,00,01,06,04,7E,\r\n"
              "\r\n");
    EXPECT_EQ(sink->Texts(), std::vector<std::string>{"not Packet"});
    SetLogPath("");
}

TEST(FileSize, ReadOnlyFileHasItsSizeAndMissingFileIsZero) {
    test::TempDir dir;
    dir.Write("fw.bin", std::string(3000, 'x'));
    chmod(dir.File("fw.bin").c_str(), 0444);
    EXPECT_EQ(TPacketFrame::GetFileSize(dir.File("fw.bin")), 3000);
    EXPECT_EQ(TPacketFrame::GetFileSize(dir.File("none")), 0);
    EXPECT_EQ(TPacketFrame::GetFileSize(dir.Path()), 0);
    EXPECT_EQ(TPacketFrame::CalcFileSize(dir.File("fw.bin"), 3001), (TByteBuffer{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(TPacketFrame::CalcFileSize(dir.File("fw.bin"), 1024), frame::BigEndian32(1976));
}
