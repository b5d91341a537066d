// KV protocol object without a line: file checks and the frames it prepares
// for firmware and font, with blank entries marked.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "protocol/Kv_packet.h"

using namespace tolm;

namespace {

// Stored firmware bytes: every value plus 10.
std::string Stored(std::string plain) {
    for (char& c : plain) c = static_cast<char>(static_cast<uint8_t>(c) + 10);
    return plain;
}

std::string KvFirmware(int bodySize, char kernel) {
    std::string plain(static_cast<size_t>(bodySize), '\0');
    for (int i = 0; i < bodySize; ++i) plain[static_cast<size_t>(i)] = static_cast<char>(i % 251);
    std::string trailer = "4KV1Y";
    trailer.resize(1024, '\0');
    trailer[10] = kernel;
    return Stored(plain + trailer);
}

int Position(const TByteBuffer& frame) { return frame::ReadBigEndian16(frame, 13); }

}  // namespace

TEST(KvFileCheck, KernelDigitFromTrailerAndUnusableFiles) {
    test::TempDir dir;
    TKV_Packet kv;
    EXPECT_EQ(kv.TerminalID, (TByteBuffer{0, 0, 0, 1}));
    EXPECT_EQ(kv.ReplyTimeout, 1000);
    dir.Write("fw.bin", KvFirmware(8192, '6'));
    EXPECT_EQ(kv.CheckUpgradeFileVer(dir.File("fw.bin")), 0);
    EXPECT_EQ(kv.KernelDigit, 6);
    EXPECT_EQ(kv.CheckUpgradeFileVer(dir.File("missing.bin")), -1);
    // Too short to hold the kernel digit: not a file that can be checked.
    kv.KernelDigit = 2;
    dir.Write("tiny.bin", Stored("4KV1Y"));
    EXPECT_EQ(kv.CheckUpgradeFileVer(dir.File("tiny.bin")), -1);
    EXPECT_EQ(kv.KernelDigit, 2);
}

TEST(KvFirmwareFrames, EntriesByDataPositionWithBlankEntriesMarked) {
    test::TempDir dir;
    // Entry 1 all 0xFF (blank), entry 2 all 0xFF but one byte (not blank).
    std::string plain(3 * 4096 + 100, 'a');
    std::fill(plain.begin() + 4096, plain.begin() + 3 * 4096, '\xFF');
    plain[2 * 4096 + 4095] = 0x00;
    dir.Write("fw.bin", Stored(plain));
    TKV_Packet kv;
    ASSERT_EQ(kv.LoadFileToMemory(dir.File("fw.bin")), 0);
    EXPECT_EQ(kv.SkipBlock[0], 0);
    EXPECT_EQ(kv.SkipBlock[1], 1);
    EXPECT_EQ(kv.SkipBlock[2], 0);
    EXPECT_EQ(kv.SkipBlock[3], 0) << "100 bytes of data, then fill";
    for (int i = 4; i < 512; ++i) ASSERT_EQ(kv.SkipBlock[static_cast<size_t>(i)], 1) << "entry past the file " << i;

    const TByteBuffer& e0 = kv.BlockPacket[0];
    ASSERT_EQ(e0.Length(), 4115);
    EXPECT_EQ(e0.Mid(0, 17),
              (TByteBuffer{0x7E, 0x7E, 0x04, 0, 0, 0, 0, 0, 0, 0, 1, 0x70, 0x01, 0x00, 0x00, 0x10, 0x00}));
    EXPECT_EQ(e0[17], 'a');
    EXPECT_EQ(e0[4113], frame::CheckByte(e0.data() + 2, 4111));
    EXPECT_EQ(Position(kv.BlockPacket[3]), 12);
    EXPECT_EQ(kv.BlockPacket[3][17 + 99], 'a');
    EXPECT_EQ(kv.BlockPacket[3][17 + 100], 0xFF);
    EXPECT_EQ(Position(kv.BlockPacket[511]), 2044);
}

TEST(KvFirmwareFrames, MissingFileLeavesNothingThatCouldBeSent) {
    test::TempDir dir;
    dir.Write("fw.bin", KvFirmware(4096, '3'));
    TKV_Packet kv;
    ASSERT_EQ(kv.LoadFileToMemory(dir.File("fw.bin")), 0);
    EXPECT_EQ(kv.LoadFileToMemory(dir.File("missing.bin")), -1);
    for (int i = 0; i < 512; ++i) {
        ASSERT_TRUE(kv.BlockPacket[static_cast<size_t>(i)].IsEmpty());
        ASSERT_EQ(kv.SkipBlock[static_cast<size_t>(i)], 0);
    }
}

TEST(KvFontFrames, EntryCountFromSizeAndTheLargestFont) {
    test::TempDir dir;
    TKV_Packet kv;
    std::string font(4096, 'f');
    dir.Write("a.fon", font);
    kv.FirmwareSize = 4096;
    ASSERT_EQ(kv.LoadFileToMemoryFont(dir.File("a.fon")), 0);
    EXPECT_EQ(kv.FontEntryCount(), 2);
    EXPECT_EQ(Position(kv.BlockPacket[0]), 512);
    EXPECT_EQ(Position(kv.BlockPacket[1]), 516);
    EXPECT_EQ(kv.BlockPacket[0][17], 'f') << "font bytes are sent as stored";
    EXPECT_EQ(kv.SkipBlock[0], 0);
    EXPECT_EQ(kv.SkipBlock[1], 1) << "the entry past a whole-block font is blank";

    std::string largest(1052671, 'g');
    largest[1052670] = 'h';
    dir.Write("b.fon", largest);
    kv.FirmwareSize = 1052671;
    ASSERT_EQ(kv.LoadFileToMemoryFont(dir.File("b.fon")), 0);
    EXPECT_EQ(kv.FontEntryCount(), 257);
    EXPECT_EQ(Position(kv.BlockPacket[256]), 1536);
    EXPECT_EQ(kv.BlockPacket[256][17 + 4094], 'h');
    EXPECT_EQ(kv.BlockPacket[256][17 + 4095], 0xFF);
    EXPECT_EQ(kv.SkipBlock[256], 0);

    dir.Write("c.fon", largest + "i");
    kv.FirmwareSize = 1052672;
    EXPECT_EQ(kv.LoadFileToMemoryFont(dir.File("c.fon")), -2);
    EXPECT_EQ(kv.LoadFileToMemoryFont(dir.File("missing.fon")), -1);
}
