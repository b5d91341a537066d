// First-generation scanner: frames, reply recognition, the identification
// comparison, the file's trailer and the cutting of the image into blocks.
#include <gtest/gtest.h>

#include <set>

#include "ScanTestFiles.h"
#include "TestSupport.h"
#include "protocol/Scan_packet.h"

using namespace tolm;
using tolm::test::TempDir;

namespace {

TByteBuffer Bytes(std::initializer_list<uint8_t> b) { return TByteBuffer(b); }

// A 16-byte identification block as the scanner sends it.
TByteBuffer Block(const std::string& model, uint8_t digit6, uint8_t kernel, uint8_t digit14) {
    TByteBuffer block(16, 0x00);
    for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(model[i]);
    block[5] = digit6;
    block[9] = kernel;
    block[13] = digit14;
    return block;
}

std::set<int> SentBlocks(const TScan_Packet& p) {
    std::set<int> sent;
    for (int i = 0; i < 256; ++i)
        if (!p.SkipBlock[i]) sent.insert(i);
    return sent;
}

}  // namespace

TEST(ScanPacketFrames, WorkedFramesByteForByte) {
    TScan_Packet p;
    EXPECT_EQ(p.ReplyTimeout, 1000);
    EXPECT_EQ(TScan_Packet::Request(0x06), Bytes({0x7E, 0x7E, 0x01, 0x06, 0x07, 0x7E}));
    EXPECT_EQ(TScan_Packet::Request(0x10), Bytes({0x7E, 0x7E, 0x01, 0x10, 0x11, 0x7E}));
    EXPECT_EQ(TScan_Packet::Request(0x30), Bytes({0x7E, 0x7E, 0x01, 0x30, 0x31, 0x7E}));
    EXPECT_EQ(TScan_Packet::EndFrame(), Bytes({0x7E, 0x7E, 0x01, 0x70, 0x02, 0x73, 0x7E}));
    p.ImageLength = 263168;
    EXPECT_EQ(p.StartFrame(), Bytes({0x7E, 0x7E, 0x01, 0x70, 0x00, 0x00, 0x04, 0x00, 0x00, 0x75, 0x7E}));
    // The announced size follows ImageLength only; below 1024 it wraps as two's complement.
    p.ImageLength = 0;
    EXPECT_EQ(p.StartFrame().Mid(5, 4), Bytes({0xFF, 0xFF, 0xFC, 0x00}));
}

TEST(ScanPacketReplies, AcknowledgementIsSixBytesWithAckAtOffsetThree) {
    EXPECT_TRUE(TScan_Packet::IsAcknowledgement(Bytes({0x7E, 0x7E, 0x01, 0x06, 0x07, 0x7E})));
    // Only length and command byte are looked at.
    EXPECT_TRUE(TScan_Packet::IsAcknowledgement(Bytes({0, 0, 0, 0x06, 0, 0})));
    EXPECT_FALSE(TScan_Packet::IsAcknowledgement(Bytes({0x7E, 0x7E, 0x01, 0x15, 0x14, 0x7E})));
    EXPECT_FALSE(TScan_Packet::IsAcknowledgement(Bytes({0x7E, 0x7E, 0x01, 0x06, 0x07})));
    EXPECT_FALSE(TScan_Packet::IsAcknowledgement({}));
    // The addressed families' 14-byte acknowledgement is not this family's.
    EXPECT_FALSE(TScan_Packet::IsAcknowledgement(
        Bytes({0x7E, 0x7E, 0x01, 0, 0, 0, 1, 0, 0, 0, 0, 0x06, 0x06, 0x7E})));
}

TEST(ScanPacketReplies, IdentificationBlockOnlyFromTwentyFourByteReply) {
    TByteBuffer reply{0x7E, 0x7E, 0x01, 0x10, 0x00, 0x10};
    reply.Append(Block("LB1Y", 7, 1, 0));
    reply.Append(Bytes({0x55, 0x7E}));  // check byte not examined
    ASSERT_EQ(reply.Length(), 24);
    EXPECT_EQ(TScan_Packet::IdentificationBlock(reply), Block("LB1Y", 7, 1, 0));
    EXPECT_TRUE(TScan_Packet::IdentificationBlock(reply.Mid(0, 23)).IsEmpty());
    TByteBuffer longer = reply;
    longer.Append(0x7E);
    EXPECT_TRUE(TScan_Packet::IdentificationBlock(longer).IsEmpty());
}

class ScanPacketKernel : public ::testing::Test {
protected:
    void SetUp() override {
        p.ModelCode = "LB1Y";
        p.Digit6 = 7;
        p.KernelDigit = 3;
        p.Digit14 = 0;
    }
    TScan_Packet p;
};

TEST_F(ScanPacketKernel, EachResultCode) {
    EXPECT_EQ(p.CompareIdentification({}), -2);
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 7, 3, 0).Mid(0, 15)), -2);
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 7, 3, 0)), 0);
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 7, 4, 0)), 0) << "a newer kernel on the scanner passes";
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 7, 2, 0)), -3);
    EXPECT_EQ(p.CompareIdentification(Block("LB1y", 7, 3, 0)), -4) << "model code is case-sensitive";
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 6, 3, 0)), -5);
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 7, 3, 1)), -6);
}

TEST_F(ScanPacketKernel, LastFailingTestDecides) {
    EXPECT_EQ(p.CompareIdentification(Block("ND1Y", 7, 2, 0)), -4);
    EXPECT_EQ(p.CompareIdentification(Block("ND1Y", 7, 3, 9)), -6);
    EXPECT_EQ(p.CompareIdentification(Block("ND1Y", 6, 2, 0)), -5);
}

TEST_F(ScanPacketKernel, DigitSixOutsideSixToEightNeverPasses) {
    p.Digit6 = 5;
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 5, 3, 0)), -5);
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 5, 3, 1)), -6);
    p.Digit6 = 8;
    EXPECT_EQ(p.CompareIdentification(Block("LB1Y", 8, 3, 0)), 0);
}

TEST_F(ScanPacketKernel, KernelLevelOnlyCheckWantsEqualLevel) {
    EXPECT_EQ(p.CompareKernelLevel({}), -2);
    EXPECT_EQ(p.CompareKernelLevel(Block("XXXX", 0, 3, 9)), 0);
    EXPECT_EQ(p.CompareKernelLevel(Block("LB1Y", 7, 4, 0)), -1);
}

TEST(ScanPacketFile, ReadsTrailerFieldsFromLastBlock) {
    TempDir dir;
    dir.Write("fw.bin", test::StoredImage(test::PatternImage(), test::Trailer("2LB1Y", '7', '2', '3')));
    TScan_Packet p;
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("fw.bin")), 0);
    EXPECT_EQ(p.ModelCode, "LB1Y");
    EXPECT_EQ(p.Digit6, 7);
    EXPECT_EQ(p.KernelDigit, 2);
    EXPECT_EQ(p.Digit14, 3);
}

TEST(ScanPacketFile, DigitsBelowZeroCharacter) {
    TempDir dir;
    // '-' is below '0': Digit6 goes negative, the 8-bit digits wrap.
    dir.Write("fw.bin", test::StoredImage(test::BlankImage(), test::Trailer("2ND1Y", '-', '/', ' ')));
    TScan_Packet p;
    ASSERT_EQ(p.CheckUpgradeFileVer(dir.File("fw.bin")), 0);
    EXPECT_EQ(p.ModelCode, "ND1Y");
    EXPECT_EQ(p.Digit6, '-' - '0');
    EXPECT_EQ(p.KernelDigit, 0xFF);
    EXPECT_EQ(p.Digit14, static_cast<uint8_t>(' ' - '0'));
}

TEST(ScanPacketFile, MissingOrTooShortFileIsRefusedAndFieldsKept) {
    TempDir dir;
    TScan_Packet p;
    p.ModelCode = "KEEP";
    p.Digit6 = 6;
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("none.bin")), -1);
    // Files shorter than 1045 bytes hold no usable trailer.
    dir.Write("short.bin", std::string(20, 'x') + test::Stored(std::string(1024, '1')));
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("short.bin")), -1);
    dir.Write("tiny.bin", test::Stored(test::Trailer("2LB1Y", '7', '1', '0')));
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("tiny.bin")), -1);
    EXPECT_EQ(p.ModelCode, "KEEP");
    EXPECT_EQ(p.Digit6, 6);
    // 1045 bytes is just enough.
    dir.Write("edge.bin", test::Stored(std::string(21, ' ') + test::Trailer("2LB1Y", '7', '1', '0') +
                                       std::string(1003, ' ')));
    EXPECT_EQ(p.CheckUpgradeFileVer(dir.File("edge.bin")), 0);
    EXPECT_EQ(p.ModelCode, "LB1Y");
}

TEST(ScanPacketLoader, BlankImageSendsExactlySeventySixBlocks) {
    TempDir dir;
    dir.Write("blank.bin", test::StoredImage(test::BlankImage(), test::Trailer("2LB1Y", '7', '1', '0')));
    TScan_Packet p;
    p.LoadFileToMemory(dir.File("blank.bin"));
    std::set<int> expected;
    for (int i = 0; i < 256; i += 4) expected.insert(i);
    for (int i = 241; i < 256; ++i) expected.insert(i);
    EXPECT_EQ(expected.size(), 76u);
    EXPECT_EQ(SentBlocks(p), expected);
    for (int i = 0; i < 256; ++i) ASSERT_EQ(p.BlockPacket[i].Length(), 1035) << i;
}

TEST(ScanPacketLoader, BlockFramesCarryNumberLengthAndConvertedBytes) {
    TempDir dir;
    auto image = test::PatternImage({1, 2, 244});
    image[3 * 1024 + 1023] = 0xFF;  // block 3 keeps some non-blank bytes
    dir.Write("fw.bin", test::StoredImage(image, test::Trailer("2LB1Y", '7', '1', '0')));
    TScan_Packet p;
    p.LoadFileToMemory(dir.File("fw.bin"));
    EXPECT_EQ(p.SkipBlock[1], 1);
    EXPECT_EQ(p.SkipBlock[2], 1);
    EXPECT_EQ(p.SkipBlock[3], 0);
    EXPECT_EQ(p.SkipBlock[244], 0) << "the last fifteen blocks always go";
    for (int i : {0, 3, 200, 255}) {
        const TByteBuffer& f = p.BlockPacket[i];
        ASSERT_EQ(f.Length(), 1035);
        EXPECT_EQ(f.Mid(0, 9), Bytes({0x7E, 0x7E, 0x01, 0x70, 0x01, 0x00, static_cast<uint8_t>(i), 0x04, 0x00}));
        EXPECT_EQ(f.Mid(9, 1024), TByteBuffer(image.data() + i * 1024, 1024));
        EXPECT_EQ(f, TPacketFrame::SetLRC(f.Mid(2, 1031)));
    }
}

TEST(ScanPacketLoader, BlocksPastTheEndOfAShortFileAreBlankNotStale) {
    TempDir dir;
    // First a full file, so the tables hold its data ...
    dir.Write("full.bin", test::StoredImage(test::PatternImage(), test::Trailer("2LB1Y", '7', '1', '0')));
    TScan_Packet p;
    p.LoadFileToMemory(dir.File("full.bin"));
    ASSERT_EQ(p.SkipBlock[5], 0);
    // ... then a file that ends 100 bytes into block 2.
    auto image = test::PatternImage({}, 3);
    std::string shortFile = test::StoredImage(image, "").substr(0, 2 * 1024 + 100);
    dir.Write("short.bin", shortFile);
    p.LoadFileToMemory(dir.File("short.bin"));
    const TByteBuffer& partial = p.BlockPacket[2];
    for (int k = 0; k < 100; ++k) ASSERT_EQ(partial[9 + k], image[2 * 1024 + k]);
    for (int k = 100; k < 1024; ++k) ASSERT_EQ(partial[9 + k], 0xFF) << k;
    for (int i = 3; i < 256; ++i) {
        ASSERT_EQ(p.BlockPacket[i].Mid(9, 1024), TByteBuffer(1024, 0xFF)) << i;
        EXPECT_EQ(p.SkipBlock[i], (i % 4 != 0 && i <= 240) ? 1 : 0) << i;
    }
}

TEST(ScanPacketLoader, MissingFileLeavesTables) {
    TempDir dir;
    dir.Write("fw.bin", test::StoredImage(test::PatternImage({7}), test::Trailer("2LB1Y", '7', '1', '0')));
    TScan_Packet p;
    p.LoadFileToMemory(dir.File("fw.bin"));
    const TByteBuffer before = p.BlockPacket[9];
    p.LoadFileToMemory(dir.File("gone.bin"));
    EXPECT_EQ(p.BlockPacket[9], before);
    EXPECT_EQ(p.SkipBlock[7], 1);
}
