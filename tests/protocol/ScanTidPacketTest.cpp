// Scanner TID family: addressed frames, reply recognition (including the
// docking station's 15-byte answers), the identification comparison, the
// trailer and loader of either image of a two-image file, and the splitting
// of such a file.
#include <gtest/gtest.h>

#include <filesystem>

#include "ScanTestFiles.h"
#include "TestSupport.h"
#include "protocol/Scan_tid_packet.h"

using namespace tolm;
using tolm::test::TempDir;

namespace {

TByteBuffer Bytes(std::initializer_list<uint8_t> b) { return TByteBuffer(b); }

TByteBuffer Block(const std::string& model, uint8_t digit6, uint8_t kernel, uint8_t digit14) {
    TByteBuffer block(16, 0x00);
    for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(model[i]);
    block[5] = digit6;
    block[9] = kernel;
    block[13] = digit14;
    return block;
}

// A two-image file: scanner image with its trailer, then the docking station's.
std::string TwoImageFile(const std::vector<uint8_t>& scan, const std::vector<uint8_t>& dock) {
    return test::StoredImage(scan, test::Trailer("2TW2Y", '7', '1', '0')) +
           test::StoredImage(dock, test::Trailer("2GH2Y", '5', '4', '3'));
}

}  // namespace

TEST(ScanTidFrames, WorkedFramesByteForByte) {
    TScan_TID_Packet p;
    EXPECT_EQ(TScan_TID_Packet::QueryFrame(0x90),
              Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x90, 0x91, 0x7E}));
    EXPECT_EQ(TScan_TID_Packet::QueryFrame(0x95),
              Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0x95, 0x94, 0x7E}));
    p.TerminalID = {0, 0, 0, 1};
    p.ImageLength = 263168;
    EXPECT_EQ(p.Request(0x10), Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0, 0, 0, 1, 0x10, 0x10, 0x7E}));
    EXPECT_EQ(p.StartFrame(0x70),
              Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0, 0, 0, 1, 0x70, 0x00, 0x00, 0x04, 0x00, 0x00, 0x74, 0x7E}));
    EXPECT_EQ(p.EndFrame(0x75), Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0, 0, 0, 1, 0x75, 0x02, 0x77, 0x7E}));
    EXPECT_EQ(p.Request(0x6F).Length(), 14);
    EXPECT_EQ(p.Request(0x6F)[11], 0x6F);
    EXPECT_EQ(p.Request(0x06), Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0, 0, 0, 1, 0x06, 0x06, 0x7E}));
}

TEST(ScanTidFrames, NoTerminalIdMeansNoAddressedRequest) {
    TScan_TID_Packet p;
    p.ImageLength = 263168;
    EXPECT_TRUE(p.Request(0x10).IsEmpty());
    EXPECT_TRUE(p.StartFrame(0x70).IsEmpty());
    EXPECT_TRUE(p.EndFrame(0x75).IsEmpty());
    // The queries are the only requests that need none.
    EXPECT_EQ(TScan_TID_Packet::QueryFrame(0x90).Length(), 14);
}

TEST(ScanTidReplies, QueryReplyAndAnnouncement) {
    TByteBuffer query{0x7E, 0x7E, 0x01, 0x12, 0x34, 0x56, 0x78, 0, 0, 0, 0, 0x64};
    query.Append(TByteBuffer(10, 0x20));
    query.Append(Bytes({0x00, 0x7E}));  // wrong check byte: not examined
    ASSERT_EQ(query.Length(), 24);
    EXPECT_TRUE(TScan_TID_Packet::IsQueryReply(query));
    TByteBuffer other = query;
    other[11] = 0x65;
    EXPECT_FALSE(TScan_TID_Packet::IsQueryReply(other));
    EXPECT_FALSE(TScan_TID_Packet::IsQueryReply(query.Mid(0, 23)));

    TByteBuffer announce{0x7E, 0x7E, 0x01, 0, 0, 0, 9, 0, 0, 0, 0, 0x6E, 0x67, 0x7E};
    EXPECT_TRUE(TScan_TID_Packet::IsAnnouncement(announce));
    TByteBuffer longer = announce;
    longer.Append(0x7E);
    EXPECT_FALSE(TScan_TID_Packet::IsAnnouncement(longer));
    announce[11] = 0x6F;
    EXPECT_FALSE(TScan_TID_Packet::IsAnnouncement(announce));
}

TEST(ScanTidReplies, AcknowledgementForms) {
    const TByteBuffer ack{0x7E, 0x7E, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0x06, 0x07, 0x7E};
    const TByteBuffer startLong{0x7E, 0x7E, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0x75, 0x06, 0x73, 0x7E};
    const TByteBuffer endLong{0x7E, 0x7E, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0x06, 0x02, 0x07, 0x7E};
    EXPECT_TRUE(TScan_TID_Packet::IsAcknowledgement(ack));
    EXPECT_FALSE(TScan_TID_Packet::IsAcknowledgement(Bytes({0x7E, 0x7E, 0x01, 0x06, 0x07, 0x7E})))
        << "the first generation's 6-byte form is not accepted";
    EXPECT_FALSE(TScan_TID_Packet::IsAcknowledgement(startLong));
    EXPECT_FALSE(TScan_TID_Packet::IsAcknowledgement(endLong));

    EXPECT_TRUE(TScan_TID_Packet::IsStart75Acknowledgement(ack));
    EXPECT_TRUE(TScan_TID_Packet::IsStart75Acknowledgement(startLong));
    EXPECT_FALSE(TScan_TID_Packet::IsStart75Acknowledgement(endLong)) << "0x06 only at offset 11";

    EXPECT_TRUE(TScan_TID_Packet::IsEnd75Acknowledgement(ack));
    EXPECT_TRUE(TScan_TID_Packet::IsEnd75Acknowledgement(endLong));
    EXPECT_FALSE(TScan_TID_Packet::IsEnd75Acknowledgement(startLong)) << "0x06 only at offset 12";
}

TEST(ScanTidReplies, IdentificationBlockOnlyFromThirtyTwoByteReply) {
    TByteBuffer reply{0x7E, 0x7E, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0x10, 0x00, 0x10};
    reply.Append(Block("TW2Y", 7, 1, 0));
    reply.Append(Bytes({0x00, 0x7E}));
    ASSERT_EQ(reply.Length(), 32);
    EXPECT_EQ(TScan_TID_Packet::IdentificationBlock(reply), Block("TW2Y", 7, 1, 0));
    EXPECT_TRUE(TScan_TID_Packet::IdentificationBlock(reply.Mid(0, 31)).IsEmpty());
    EXPECT_TRUE(TScan_TID_Packet::IdentificationBlock(reply.Mid(0, 24)).IsEmpty());
}

class ScanTidKernel : public ::testing::Test {
protected:
    void SetUp() override {
        p.ModelCode = "TW2Y";
        p.Digit6 = 5;
        p.KernelDigit = 3;
        p.Digit14 = 0;
    }
    TScan_TID_Packet p;
};

TEST_F(ScanTidKernel, EachResultCodeAndExactKernelLevel) {
    EXPECT_EQ(p.CompareIdentification({}), -2);
    EXPECT_EQ(p.CompareIdentification(Block("TW2Y", 5, 3, 0)), 0) << "no 6-8 test on digit 6 here";
    EXPECT_EQ(p.CompareIdentification(Block("TW2Y", 5, 4, 0)), -3) << "a newer kernel fails too";
    EXPECT_EQ(p.CompareIdentification(Block("TW2Y", 5, 2, 0)), -3);
    EXPECT_EQ(p.CompareIdentification(Block("GH2Y", 5, 3, 0)), -4);
    EXPECT_EQ(p.CompareIdentification(Block("TW2Y", 6, 3, 0)), -5);
    EXPECT_EQ(p.CompareIdentification(Block("TW2Y", 5, 3, 2)), -6);
}

TEST_F(ScanTidKernel, LastFailingTestDecides) {
    EXPECT_EQ(p.CompareIdentification(Block("GH2Y", 5, 4, 0)), -4);
    EXPECT_EQ(p.CompareIdentification(Block("GH2Y", 6, 4, 0)), -5);
    EXPECT_EQ(p.CompareIdentification(Block("GH2Y", 6, 4, 9)), -6);
}

TEST(ScanTidFile, TrailerOfTheCurrentImage) {
    TempDir dir;
    dir.Write("two.bin", TwoImageFile(test::PatternImage(), test::PatternImage({}, 9)));
    dir.Write("one.bin", test::StoredImage(test::PatternImage(), test::Trailer("2TW2Y", '7', '1', '0')));
    TScan_TID_Packet p;
    ASSERT_EQ(p.CheckUpgradeFileVer(dir.File("two.bin")), 0);
    EXPECT_EQ(p.ModelCode, "TW2Y");
    EXPECT_EQ(p.Digit6, 7);
    p.ImageOffset = TScan_TID_Packet::kSecondImageOffset;
    ASSERT_EQ(p.CheckUpgradeFileVer(dir.File("two.bin")), 0);
    EXPECT_EQ(p.ModelCode, "GH2Y");
    EXPECT_EQ(p.Digit6, 5);
    EXPECT_EQ(p.KernelDigit, 4);
    EXPECT_EQ(p.Digit14, 3);
    // A one-image file has no second trailer: refused, fields kept.
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("one.bin")), -1);
    EXPECT_EQ(p.ModelCode, "GH2Y");
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("missing.bin")), -1);
}

TEST(ScanTidLoader, SecondImageNumbersBlocksFromZeroWithTheTerminalId) {
    TempDir dir;
    auto dock = test::PatternImage({1, 2, 3}, 9);
    dir.Write("two.bin", TwoImageFile(test::PatternImage(), dock));
    TScan_TID_Packet p;
    p.TerminalID = {0x12, 0x34, 0x56, 0x78};
    p.ImageOffset = 257;
    p.LoadFileToMemory75(dir.File("two.bin"));
    EXPECT_EQ(p.SkipBlock[1] + p.SkipBlock[2] + p.SkipBlock[3], 3);
    for (int i : {0, 4, 255}) {
        const TByteBuffer& f = p.BlockPacket[i];
        ASSERT_EQ(f.Length(), 1043);
        EXPECT_EQ(f.Mid(0, 17), Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x75, 0x01, 0x00,
                                       static_cast<uint8_t>(i), 0x04, 0x00}));
        EXPECT_EQ(f.Mid(17, 1024), TByteBuffer(dock.data() + i * 1024, 1024));
        EXPECT_EQ(f, TPacketFrame::SetLRC(f.Mid(2, 1039)));
    }
    p.ImageOffset = 0;
    p.LoadFileToMemory70(dir.File("two.bin"));
    EXPECT_EQ(p.BlockPacket[0][11], 0x70);
    EXPECT_EQ(p.SkipBlock[1], 0);
}

TEST(ScanTidLoader, WithoutTerminalIdNothingIsLeftToSend) {
    TempDir dir;
    dir.Write("one.bin", test::StoredImage(test::PatternImage(), test::Trailer("2TW2Y", '7', '1', '0')));
    TScan_TID_Packet p;
    p.TerminalID = {0, 0, 0, 1};
    p.LoadFileToMemory70(dir.File("one.bin"));
    ASSERT_EQ(p.BlockPacket[0].Length(), 1043);
    p.TerminalID = {};
    p.LoadFileToMemory70(dir.File("one.bin"));
    for (int i = 0; i < 256; ++i) {
        ASSERT_TRUE(p.BlockPacket[i].IsEmpty());
        ASSERT_EQ(p.SkipBlock[i], 0);
    }
}

TEST(ScanTidDecompose, SplitsIntoTheTwoStoredHalves) {
    TempDir dir;
    const std::string file = TwoImageFile(test::PatternImage(), test::PatternImage({}, 9));
    ASSERT_EQ(file.size(), 526336u);
    dir.Write("two.bin", file);
    TScan_TID_Packet p;
    EXPECT_EQ(p.DecomposeRomFile(dir.File("two.bin"), dir.Path()), 0);
    EXPECT_EQ(dir.Read("Scan.BIN"), file.substr(0, 263168));
    EXPECT_EQ(dir.Read("Dock.BIN"), file.substr(263168));
    EXPECT_EQ(p.DecomposeRomFile(dir.File("none.bin"), dir.Path()), -1);
}

TEST(ScanTidDecompose, ShortFileWritesOnlyWhatWasRead) {
    TempDir dir;
    const std::string file = TwoImageFile(test::PatternImage(), test::PatternImage({}, 9)).substr(0, 300000);
    dir.Write("short.bin", file);
    dir.Write("Dock.BIN", std::string(600000, 'x'));  // an earlier, longer output is replaced
    TScan_TID_Packet p;
    EXPECT_EQ(p.DecomposeRomFile(dir.File("short.bin"), dir.Path()), 0);
    EXPECT_EQ(dir.Read("Scan.BIN"), file.substr(0, 263168));
    EXPECT_EQ(dir.Read("Dock.BIN"), file.substr(263168));
}

TEST(ScanTidDecompose, UnwritableOutputIsReported) {
    TempDir dir;
    dir.Write("two.bin", TwoImageFile(test::BlankImage(), test::BlankImage()));
    TScan_TID_Packet p;
    EXPECT_EQ(p.DecomposeRomFile(dir.File("two.bin"), dir.File("no/such/folder")), -2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("no/such/folder/Scan.BIN")));
}
