// Scanner TID upgrades over a pseudo-terminal through the serial component:
// scanner, docking station and two-image files against the emulator; the
// announcement, retries and their diagnostic log against a scripted peer.
#include <gtest/gtest.h>

#include "ScanTestFiles.h"
#include "ScanTestPeers.h"
#include "TestSupport.h"
#include "base/Logfile.h"
#include "protocol/Scan_tid_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

using namespace tolm;
using tolm::test::TempDir;

namespace {

constexpr int kPort = 7;

// Request lengths of the addressed family: command at offset 11, phase at 12.
int TidLength(const std::string& p) {
    if (static_cast<uint8_t>(p[0]) != 0x7E) return -1;
    if (p.size() < 13) return 0;
    switch (static_cast<uint8_t>(p[11])) {
        case 0x70:
        case 0x75:
            return p[12] == 0 ? 19 : p[12] == 1 ? 1043 : 15;
        default:
            return 14;
    }
}

int BlockOf(const std::string& request) {
    return request.size() == 1043 ? static_cast<uint8_t>(request[14]) : -1;
}

std::string Frame(const std::string& payload) {
    uint8_t check = 0;
    for (char c : payload) check ^= static_cast<uint8_t>(c);
    return std::string("\x7E\x7E", 2) + payload + static_cast<char>(check) + '\x7E';
}

// The station's acknowledgement: 01, its ID 00 00 00 09, host 00 00 00 00, 06.
const std::string kAck = Frame(std::string("\x01\x00\x00\x00\x09\x00\x00\x00\x00\x06", 10));

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string line;
    for (char c : bytes) {
        auto b = static_cast<uint8_t>(c);
        line += digits[b >> 4];
        line += digits[b & 0x0F];
        line += ',';
    }
    return line;
}

// Two images: the scanner's and the docking station's, each with its trailer.
struct TwoImages {
    std::vector<uint8_t> scan, dock;
    std::string file;
    TwoImages() {
        std::vector<int> blank;
        for (int b = 0; b < 256; ++b)
            if (b != 0 && b != 77 && b != 200 && b != 255) blank.push_back(b);
        scan = test::PatternImage(blank, 1);
        dock = test::PatternImage(blank, 2);
        file = test::StoredImage(scan, test::Trailer("2TW2Y", '7', '1', '0')) +
               test::StoredImage(dock, test::Trailer("2GH2Y", '5', '4', '3'));
    }
};

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

// The emulated flash is erased by the start request, so blank blocks need not
// travel: skipping them all keeps these whole-upgrade tests short.
void SkipBlankBlocks(TScan_TID_Packet& tid) {
    for (int i = 0; i < 256; ++i)
        if (tid.BlockPacket[i].Mid(17, 1024) == TByteBuffer(1024, 0xFF)) tid.SkipBlock[i] = 1;
}

// Runs one image's upgrade: file check, kernel check, loader, start, blocks, end.
void Upgrade(TScan_TID_Packet& tid, TTolmSerialComm& comm, const std::string& path, bool dock, TProgressBar& bar,
             TPanel& panel) {
    ASSERT_EQ(tid.CheckUpgradeFileVer(path), 0);
    if (dock) {
        ASSERT_EQ(tid.CheckUpgradeKernel11(&comm), 0);
        tid.LoadFileToMemory75(path);
        SkipBlankBlocks(tid);
        ASSERT_TRUE(tid.Send_75_StartPacket(&comm));
        ASSERT_TRUE(tid.Send_75_Packet(&comm, &bar, &panel));
        ASSERT_TRUE(tid.Send_75_EndPacket(&comm));
    } else {
        ASSERT_EQ(tid.CheckUpgradeKernel10(&comm), 0);
        tid.LoadFileToMemory70(path);
        SkipBlankBlocks(tid);
        ASSERT_TRUE(tid.Send_70_StartPacket(&comm));
        ASSERT_TRUE(tid.Send_70_Packet(&comm, &bar, &panel));
        ASSERT_TRUE(tid.Send_70_EndPacket(&comm));
    }
}

class ScanTidEmulated : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        dir.Write("fw.bin", images.file);
        tid.PortNumber = kPort;
        tid.ImageLength = test::kScanImageLength;
        bar.SetMax(512);
    }
    void Open() { ASSERT_EQ(comm.OpenComPort(kPort, "115200,n,8,1"), 0); }
    void TearDown() override { comm.CloseComPort(kPort); }

    TempDir dir;
    TwoImages images;
    TTolmSerialComm comm;
    TScan_TID_Packet tid;
    TProgressBar bar{"PBar"};
    TPanel panel{"PBar_num"};
};

class ScanTidScripted : public ::testing::Test {
protected:
    void SetUp() override {
        test::LinkPort(dir, kPort, pty.SlavePath());
        SetLogPath(dir.File("DUMMY.TXT"));
        ASSERT_EQ(comm.OpenComPort(kPort, "115200,n,8,1"), 0);
        tid.PortNumber = kPort;
        tid.ImageLength = test::kScanImageLength;
        tid.ReplyTimeout = 300;  // keeps the unanswered attempts short
        bar.SetMax(256);
    }
    void TearDown() override {
        comm.CloseComPort(kPort);
        SetLogPath("");
    }
    void LoadOnly(const std::vector<int>& blocks) {
        dir.Write("fw.bin", TwoImages().file);
        tid.TerminalID = {0, 0, 0, 9};
        tid.LoadFileToMemory70(dir.File("fw.bin"));
        tid.SkipBlock.fill(1);
        for (int b : blocks) tid.SkipBlock[b] = 0;
    }

    TempDir dir;
    test::PtyPair pty;
    TTolmSerialComm comm;
    TScan_TID_Packet tid;
    TProgressBar bar{"PBar"};
    TPanel panel{"PBar_num"};
};

}  // namespace

TEST_F(ScanTidEmulated, ScannerTakesTheFirstImageAfterItsAnnouncement) {
    scantest::DevsimProcess sim("tid-scanner", dir.File("COM7"), dir.File("image.bin"),
                            {"id=0A0B0C0D", "announce=1", "announce-interval=200"});
    ASSERT_TRUE(sim.Ready());
    Open();
    tid.CheckScanFall(&comm);
    EXPECT_EQ(tid.TerminalID, (TByteBuffer{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_FALSE(tid.Send_95_InfoPacket(&comm)) << "no docking station on this line";
    ASSERT_TRUE(tid.Send_90_InfoPacket(&comm));
    bar.SetMax(256);
    Upgrade(tid, comm, dir.File("fw.bin"), false, bar, panel);
    EXPECT_EQ(bar.Position(), 256) << "one step per block, sent or skipped";
    EXPECT_EQ(panel.Caption(), "255");
    EXPECT_TRUE(tid.Send_30_Quit(&comm));
    comm.CloseComPort(kPort);
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(dir.Read("image.bin") == Text(images.scan));
}

TEST_F(ScanTidEmulated, TwoImageFileGoesToScannerThenDockingStation) {
    scantest::DevsimProcess sim("tid-pair", dir.File("COM7"), dir.File("image.bin"),
                            {"dock-id=00000022", "dock-model=GH2Y", "dock-digit6=5", "dock-kernel=4", "dock-digit14=3"});
    ASSERT_TRUE(sim.Ready());
    Open();
    std::vector<std::string> captions;
    panel.AddObserver([&](TControl& c, TChange change) {
        if (change == TChange::Repaint) captions.push_back(c.Caption());
    });
    ASSERT_TRUE(tid.Send_90_InfoPacket(&comm));
    Upgrade(tid, comm, dir.File("fw.bin"), false, bar, panel);
    EXPECT_EQ(bar.Position(), 256);

    tid.ImageOffset = TScan_TID_Packet::kSecondImageOffset;
    ASSERT_TRUE(tid.Send_95_InfoPacket(&comm));
    EXPECT_EQ(tid.TerminalID, (TByteBuffer{0, 0, 0, 0x22}));
    captions.clear();
    Upgrade(tid, comm, dir.File("fw.bin"), true, bar, panel);
    EXPECT_EQ(bar.Position(), 512);
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.front(), "257");
    EXPECT_EQ(captions.back(), "512");
    comm.CloseComPort(kPort);

    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(dir.Read("image.bin") == Text(images.scan) + Text(images.dock));
}

TEST_F(ScanTidEmulated, OnlyTheDockingStationAnswers) {
    dir.Write("one.bin", test::StoredImage(images.dock, test::Trailer("2GH2Y", '7', '1', '0')));
    scantest::DevsimProcess sim("tid-dock", dir.File("COM7"), dir.File("image.bin"), {"model=GH2Y", "ack75=short"});
    ASSERT_TRUE(sim.Ready());
    Open();
    EXPECT_FALSE(tid.Send_90_InfoPacket(&comm));
    ASSERT_TRUE(tid.Send_95_InfoPacket(&comm));
    bar.SetMax(256);
    Upgrade(tid, comm, dir.File("one.bin"), true, bar, panel);
    EXPECT_EQ(panel.Caption(), "255");
    comm.CloseComPort(kPort);
    ASSERT_EQ(sim.Stop(), 0);
    EXPECT_TRUE(dir.Read("image.bin") == Text(images.dock));
}

TEST_F(ScanTidScripted, AnnouncementIsAnsweredWithSixF) {
    scantest::ScriptedPeer peer(pty, TidLength, [](const std::string&, int) { return std::string(); });
    const std::string announce = Frame(std::string("\x01\x00\x00\x00\x09\x00\x00\x00\x00\x6E", 10));
    std::thread device([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write(announce + "\x7E");  // 15 bytes: not an announcement
    });
    tid.CheckScanFall(&comm);
    device.join();
    EXPECT_TRUE(tid.TerminalID.IsEmpty());

    device = std::thread([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write(announce);
    });
    tid.CheckScanFall(&comm);
    device.join();
    EXPECT_EQ(tid.TerminalID, (TByteBuffer{0, 0, 0, 9}));
    ASSERT_TRUE(test::PumpUntil([&] { return !peer.Requests().empty(); }, 3000));
    EXPECT_EQ(peer.Requests()[0].bytes, Frame(std::string("\x01\x00\x00\x00\x00\x00\x00\x00\x09\x6F", 10)));
}

TEST_F(ScanTidScripted, WithoutTerminalIdNothingIsSent) {
    scantest::ScriptedPeer peer(pty, TidLength, [](const std::string&, int) { return kAck; });
    EXPECT_FALSE(tid.Send_70_StartPacket(&comm));
    EXPECT_FALSE(tid.Send_75_EndPacket(&comm));
    EXPECT_TRUE(tid.Send_10_InfoPacket(&comm).IsEmpty());
    tid.Send_6F_StartPacket(&comm);
    tid.SendACK(&comm);
    test::Pump(200);
    EXPECT_TRUE(peer.Requests().empty());
}

TEST_F(ScanTidScripted, SecondAttemptOfABlockIsLogged) {
    LoadOnly({0, 1, 2});
    const std::string wrong = Frame(std::string("\x01\x00\x00\x00\x09\x00\x00\x00\x00\x15", 10));
    scantest::ScriptedPeer peer(pty, TidLength, [&](const std::string& r, int index) {
        if (BlockOf(r) == 1 && index == 1) return std::string();  // first attempt lost
        if (BlockOf(r) == 1 && index == 2) return wrong;           // second answered wrongly
        return kAck;
    });
    EXPECT_TRUE(tid.Send_70_Packet(&comm, &bar, &panel));
    auto req = peer.Requests();
    ASSERT_EQ(req.size(), 5u);
    // A lost reply costs the time-out, then the pause; a wrong one only the pause.
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(req[2].at - req[1].at).count(), 300 + 100 - 20);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(req[3].at - req[2].at).count(), 100 - 20);
    EXPECT_EQ(dir.Read("DUMMY.TXT"), Hex(req[1].bytes) + "\r\n" + Hex(wrong) + "\r\n");
    EXPECT_EQ(bar.Position(), 256);
}

TEST_F(ScanTidScripted, ThreeLossesEndTheTransferAndAnEmptyReplyIsLogged) {
    LoadOnly({0, 1, 2});
    scantest::ScriptedPeer peer(pty, TidLength,
                            [](const std::string& r, int) { return BlockOf(r) == 1 ? std::string() : kAck; });
    EXPECT_FALSE(tid.Send_70_Packet(&comm, &bar, &panel));
    auto req = peer.Requests();
    ASSERT_EQ(req.size(), 4u);
    EXPECT_EQ(BlockOf(req[3].bytes), 1);
    EXPECT_EQ(dir.Read("DUMMY.TXT"), Hex(req[1].bytes) + "\r\n\r\n");
    EXPECT_EQ(bar.Position(), 1) << "block 0 only";
    EXPECT_EQ(panel.Caption(), "1");
}

TEST_F(ScanTidScripted, TransferWithoutRetriesLogsNothing) {
    LoadOnly({0, 100, 255});
    scantest::ScriptedPeer peer(pty, TidLength, [](const std::string&, int) { return kAck; });
    EXPECT_TRUE(tid.Send_70_Packet(&comm, &bar, &panel));
    EXPECT_EQ(peer.Requests().size(), 3u);
    EXPECT_EQ(dir.Read("DUMMY.TXT"), "");
}

TEST_F(ScanTidScripted, DockStartAndEndAcceptOnlyTheirOwnLongForm) {
    tid.TerminalID = {0, 0, 0, 9};
    const std::string startLong = Frame(std::string("\x01\x00\x00\x00\x09\x00\x00\x00\x00\x75\x06", 11));
    const std::string endLong = Frame(std::string("\x01\x00\x00\x00\x09\x00\x00\x00\x00\x06\x02", 11));
    scantest::ScriptedPeer peer(pty, TidLength, [&](const std::string& r, int) {
        const bool start = r.size() == 19;
        return start ? endLong : startLong;  // each the other's form: never accepted
    });
    EXPECT_FALSE(tid.Send_75_StartPacket(&comm));
    EXPECT_FALSE(tid.Send_75_EndPacket(&comm));
    EXPECT_EQ(peer.Requests().size(), 6u) << "three attempts each, no pauses needed";
}
