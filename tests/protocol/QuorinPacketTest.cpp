// Quorin protocol object without a line: firmware file checks, the frames it
// prepares, terminal file names, reply parsing and the directory list.
#include <gtest/gtest.h>

#include <string>

#include "TestSupport.h"
#include "protocol/Quorin_packet.h"
#include "toolkit/Controls.h"
#include "toolkit/Exception.h"

using namespace tolm;

namespace {

// A firmware file: body bytes then a 1024-byte trailer, each stored plus 10.
std::string QuorinFile(int bodySize, const std::string& version, char kernel = '3') {
    std::string plain(static_cast<size_t>(bodySize) + 1024, '\0');
    for (int i = 0; i < bodySize; ++i) plain[static_cast<size_t>(i)] = static_cast<char>(i * 7 + i / 1024);
    std::string trailer = "3QR1Y";
    trailer.resize(1024, '\0');
    trailer[10] = kernel;
    trailer.replace(18, 3, version);
    plain.replace(static_cast<size_t>(bodySize), 1024, trailer);
    for (char& c : plain) c = static_cast<char>(static_cast<uint8_t>(c) + 10);
    return plain;
}

TByteBuffer Bytes(const std::string& text) { return TByteBuffer::FromText(text); }

}  // namespace

TEST(QuorinFileCheck, VersionComparedAsTextAndKernelDigitTaken) {
    test::TempDir dir;
    TQuorin_Packet q;
    q.KernelDigit = 9;
    dir.Write("104.bin", QuorinFile(2048, "104", '5'));
    EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("104.bin")), -2);
    EXPECT_EQ(q.KernelDigit, 9) << "a refused file leaves the kernel digit";
    dir.Write("099.bin", QuorinFile(2048, "099"));
    EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("099.bin")), -2);

    for (const char* version : {"105", "110", "10A", "2xx"}) {
        dir.Write("ok.bin", QuorinFile(2048, version, '5'));
        q.KernelDigit = 0;
        EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("ok.bin")), 0) << version;
        EXPECT_EQ(q.KernelDigit, 5) << version;
    }
    EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("missing.bin")), -1);
    EXPECT_EQ(q.CheckUpgradeFileVer(""), -1);
}

TEST(QuorinFileCheck, ShortFilesReadTheirTrailerFromTheStartOrAreRefused) {
    test::TempDir dir;
    TQuorin_Packet q;
    // Shorter than a trailer block: the trailer is read from the file's start.
    std::string small = QuorinFile(0, "106", '4').substr(0, 30);
    dir.Write("small.bin", small);
    EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("small.bin")), 0);
    EXPECT_EQ(q.KernelDigit, 4);
    // Too short to hold the version: refused, never compared on missing bytes.
    q.KernelDigit = 7;
    dir.Write("tiny.bin", small.substr(0, 20));
    EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("tiny.bin")), -2);
    EXPECT_EQ(q.KernelDigit, 7);
    dir.Write("empty.bin", "");
    EXPECT_EQ(q.CheckUpgradeFileVer(dir.File("empty.bin")), -2);
}

TEST(QuorinFirmwareFrames, EveryPacketCarriesItsKilobyteMinusTen) {
    test::TempDir dir;
    const std::string file = QuorinFile(547 * 1024, "105");
    dir.Write("fw.bin", file);
    TQuorin_Packet q;
    q.TerminalID = {0x12, 0x34, 0x56, 0x78};
    ASSERT_EQ(q.LoadFileToMemory(dir.File("fw.bin")), 0);
    for (int i : {0, 1, 300, 546}) {
        const TByteBuffer& f = q.BlockPacket[static_cast<size_t>(i)];
        ASSERT_EQ(f.Length(), 1043);
        EXPECT_EQ(f.Mid(0, 17), (TByteBuffer{0x7E, 0x7E, 0x03, 0, 0, 0, 0, 0x12, 0x34, 0x56, 0x78, 0x70, 0x01,
                                             static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i), 0x04, 0x00}));
        for (int k : {0, 1, 1023})
            EXPECT_EQ(f[17 + k], static_cast<uint8_t>(file[static_cast<size_t>(i * 1024 + k)] - 10)) << i << " " << k;
        EXPECT_EQ(f[1041], frame::CheckByte(f.data() + 2, 1039));
        EXPECT_EQ(f[1042], 0x7E);
    }
    EXPECT_TRUE(q.BlockPacket[547].IsEmpty());
}

TEST(QuorinFirmwareFrames, BytesPastTheFileAreBlankAndFailedLoadsLeaveNothingToSend) {
    test::TempDir dir;
    const std::string file = QuorinFile(100, "105");  // 1124 bytes: packet 1 is mostly past the end
    dir.Write("small.bin", file);
    TQuorin_Packet q;
    q.TerminalID = {0, 0, 0, 1};
    ASSERT_EQ(q.LoadFileToMemory(dir.File("small.bin")), 0);
    const TByteBuffer& second = q.BlockPacket[1];
    EXPECT_EQ(second[17], static_cast<uint8_t>(file[1024] - 10));
    EXPECT_EQ(second[17 + 99], static_cast<uint8_t>(file[1123] - 10));
    EXPECT_EQ(second[17 + 100], 0xFF);
    EXPECT_EQ(q.BlockPacket[546][17], 0xFF);

    EXPECT_EQ(q.LoadFileToMemory(dir.File("missing.bin")), -1);
    EXPECT_TRUE(q.BlockPacket[0].IsEmpty()) << "no stale frames of the previous file";
    TQuorin_Packet noId;
    EXPECT_EQ(noId.LoadFileToMemory(dir.File("small.bin")), -2);
    EXPECT_TRUE(noId.BlockPacket[0].IsEmpty());
}

TEST(QuorinTerminalFiles, NamesCarryDrivePrefixUpperCaseAndTerminator) {
    EXPECT_EQ(TQuorin_Packet::TerminalFileName(0, "prices.txt"), Bytes(std::string("A:PRICES.TXT\0", 13)));
    EXPECT_EQ(TQuorin_Packet::TerminalFileName(1, "prices.txt"), Bytes(std::string("B:PRICES.TXT\0", 13)));
    EXPECT_EQ(TQuorin_Packet::TerminalFileName(7, "x"), Bytes(std::string("B:X\0", 4)));
    EXPECT_EQ(TQuorin_Packet::BaseName("/home/bench/prices.txt"), "prices.txt");
    EXPECT_EQ(TQuorin_Packet::BaseName("C:\\data\\prices.txt"), "prices.txt");
    EXPECT_EQ(TQuorin_Packet::BaseName("prices.txt"), "prices.txt");
}

TEST(QuorinTerminalFiles, FileBlocksOf4096WithLengthBytesAndSizeLimit) {
    test::TempDir dir;
    std::string content(4097, 'x');
    content[4096] = 'y';
    dir.Write("one.txt", content.substr(0, 4096));
    dir.Write("two.txt", content);
    TQuorin_Packet q;
    q.TerminalID = {0, 0, 0, 2};
    EXPECT_EQ(q.LoadFilesToMemory(dir.File("one.txt")), 1);
    EXPECT_EQ(q.BlockPacket[0].Length(), 4115);
    EXPECT_EQ(q.BlockPacket[0].Mid(11, 6), (TByteBuffer{0x61, 0x01, 0x00, 0x00, 0x01, 0x00}));

    ASSERT_EQ(q.LoadFilesToMemory(dir.File("two.txt")), 2);
    const TByteBuffer& last = q.BlockPacket[1];
    EXPECT_EQ(last.Mid(11, 6), (TByteBuffer{0x61, 0x01, 0x00, 0x01, 0x00, 0x01}));
    EXPECT_EQ(last[17], 'y');
    EXPECT_EQ(last[18], 0x00) << "bytes after the file are a fixed fill";
    EXPECT_EQ(last[4113], frame::CheckByte(last.data() + 2, 4111));

    // 548 blocks fit the table; one byte more is refused before anything is built.
    TQuorin_Packet big;
    big.TerminalID = {0, 0, 0, 2};
    dir.Write("fits.bin", std::string(548 * 4096, 'a'));
    EXPECT_EQ(big.LoadFilesToMemory(dir.File("fits.bin")), 548);
    dir.Write("big.bin", std::string(548 * 4096 + 1, 'b'));
    EXPECT_EQ(big.LoadFilesToMemory(dir.File("big.bin")), -2);
    EXPECT_EQ(big.BlockPacket[547][17], 'a') << "table left as it was";
    EXPECT_EQ(big.LoadFilesToMemory(dir.File("missing.txt")), -1);
}

TEST(QuorinTerminalFiles, FileInfoReplyNeedsCommandAndSizeField) {
    // 7E 7E | 03 ID 00000000 63 | 00 10 00 | size | 00 01 | "A:X.TXT" | check 7E
    const TByteBuffer data{0x00, 0x10, 0x00, 0x00, 0x01, 0x02, 0x03, 0x00, 0x01};
    TByteBuffer payload = frame::AddressedPayloadFrom(0x03, {0, 0, 0, 1}, {0, 0, 0, 0}, 0x63, data);
    payload.Append(Bytes("A:X.TXT"));
    TByteBuffer reply = frame::Wrap(payload);
    int32_t size = -1;
    std::string text = "unset";
    ASSERT_TRUE(TQuorin_Packet::Get_63_info(reply, size, text));
    EXPECT_EQ(size, 0x010203);
    EXPECT_EQ(text, "A:X.TXT");

    // Shortest reply that carries the size: no text.
    TByteBuffer bare = reply.Mid(0, 21);
    ASSERT_TRUE(TQuorin_Packet::Get_63_info(bare, size, text));
    EXPECT_EQ(text, "");

    size = -1;
    text = "unset";
    TByteBuffer wrongCommand = reply;
    wrongCommand[11] = 0x06;
    EXPECT_FALSE(TQuorin_Packet::Get_63_info(wrongCommand, size, text));
    EXPECT_FALSE(TQuorin_Packet::Get_63_info(reply.Mid(0, 14), size, text));
    EXPECT_FALSE(TQuorin_Packet::Get_63_info(reply.Mid(0, 17), size, text)) << "size field cut short";
    EXPECT_EQ(size, -1);
    EXPECT_EQ(text, "unset");
}

TEST(QuorinDirectoryList, RowsWithGroupedSizesAndCaseBlindLookup) {
    TListView list("ListView1");
    int updates = 0;
    list.AddObserver([&](TControl&, TChange c) { updates += c == TChange::Items; });
    TQuorin_Packet::ShowTreeView(&list, "AUTOEXEC.BAT|1234|X.TXT|0");
    ASSERT_EQ(list.Items().size(), 2u);
    EXPECT_EQ(list.Items()[0].Caption, "AUTOEXEC.BAT");
    EXPECT_EQ(list.Items()[0].SubItems, (std::vector<std::string>{"1,234 Bytes", "1234"}));
    EXPECT_EQ(list.Items()[1].Caption, "X.TXT");
    EXPECT_EQ(list.Items()[1].SubItems, (std::vector<std::string>{"0 Bytes", "0"}));
    EXPECT_GE(updates, 1);

    EXPECT_TRUE(TQuorin_Packet::TermianlFileExists("autoexec.bat", &list));
    EXPECT_TRUE(TQuorin_Packet::TermianlFileExists("x.txt", &list));
    EXPECT_FALSE(TQuorin_Packet::TermianlFileExists("1234", &list));

    TQuorin_Packet::ShowTreeView(&list, "");
    EXPECT_TRUE(list.Items().empty());
    EXPECT_FALSE(TQuorin_Packet::TermianlFileExists("x.txt", &list));

    // An odd trailing name without a size makes no row.
    TQuorin_Packet::ShowTreeView(&list, "A|1|B");
    EXPECT_EQ(list.Items().size(), 1u);
    EXPECT_THROW(TQuorin_Packet::ShowTreeView(&list, "A|12k"), EConvertError);
    EXPECT_THROW(TQuorin_Packet::ShowTreeView(&list, "A|"), EConvertError);
}

TEST(QuorinDirectoryList, SizePatternGroupsThousands) {
    EXPECT_EQ(TQuorin_Packet::FormatBytes(0), "0 Bytes");
    EXPECT_EQ(TQuorin_Packet::FormatBytes(999), "999 Bytes");
    EXPECT_EQ(TQuorin_Packet::FormatBytes(1000), "1,000 Bytes");
    EXPECT_EQ(TQuorin_Packet::FormatBytes(1234567), "1,234,567 Bytes");
    EXPECT_EQ(TQuorin_Packet::FormatBytes(2244608000LL), "2,244,608,000 Bytes");
    EXPECT_EQ(TQuorin_Packet::FormatBytes(-1234), "-1,234 Bytes");
}

TEST(QuorinTerminalFiles, WhatCannotBeSentIsRefusedWithItsCode) {
    test::TempDir dir;
    dir.Write("small.txt", "hello");
    dir.Write("big.bin", std::string(548 * 4096 + 1, 'b'));
    TQuorin_Packet q;
    q.TerminalID = {0, 0, 0, 1};
    EXPECT_EQ(q.Send_61_Download(nullptr, 0, "", nullptr), -2);
    EXPECT_EQ(q.Send_61_Download(nullptr, 0, dir.File("missing.txt"), nullptr), TQuorin_Packet::kFileNotLoadable);
    EXPECT_EQ(q.Send_61_Download(nullptr, 0, dir.File("big.bin"), nullptr), TQuorin_Packet::kFileNotLoadable);
    EXPECT_EQ(q.Send_66_Delete(nullptr, 0, "", nullptr), -2);
    EXPECT_EQ(q.Send_63_Upload(nullptr, 0, "", "", nullptr), -2);
    // No line to answer: not acknowledged.
    EXPECT_EQ(q.Send_61_Download(nullptr, 0, dir.File("small.txt"), nullptr), -3);
    EXPECT_EQ(q.Send_66_Delete(nullptr, 0, "small.txt", nullptr), -3);
    EXPECT_EQ(q.Send_63_Upload(nullptr, 0, "small.txt", "", nullptr), -3);
    EXPECT_EQ(q.Send_6A_CheckDiskFree(nullptr, 0), 0u);
    EXPECT_EQ(q.Send_73_Dir(nullptr, 0), "");
    // Without a terminal ID there is nobody to address.
    TQuorin_Packet unannounced;
    EXPECT_EQ(unannounced.Send_61_Download(nullptr, 0, dir.File("small.txt"), nullptr), -3);
    EXPECT_FALSE(unannounced.Send_07_Connect_Start(nullptr));
}
