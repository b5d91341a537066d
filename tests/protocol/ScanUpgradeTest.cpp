// First-generation scanner upgrades over a pseudo-terminal through the serial
// component: a whole upgrade against the emulator, and the retry rules
// against a scripted peer.
#include <gtest/gtest.h>

#include "ScanTestFiles.h"
#include "ScanTestPeers.h"
#include "TestSupport.h"
#include "protocol/Scan_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

using namespace tolm;
using tolm::test::TempDir;

namespace {

constexpr int kPort = 7;
const std::string kAck("\x7E\x7E\x01\x06\x07\x7E", 6);

// Request lengths of the first generation: 7E 7E 01 command [phase].
int FirstGenLength(const std::string& p) {
    if (static_cast<uint8_t>(p[0]) != 0x7E) return -1;
    if (p.size() < 4) return 0;
    switch (static_cast<uint8_t>(p[3])) {
        case 0x06:
        case 0x10:
        case 0x30:
            return 6;
        case 0x70:
            if (p.size() < 5) return 0;
            return p[4] == 0 ? 11 : p[4] == 1 ? 1035 : 7;
        default:
            return -1;
    }
}

int BlockOf(const std::string& request) {
    return request.size() == 1035 ? static_cast<uint8_t>(request[6]) : -1;
}

std::string IdentificationReply(const std::string& model, uint8_t digit6, uint8_t kernel, uint8_t digit14) {
    std::string r("\x7E\x7E\x01\x10\x00\x10", 6);
    std::string block(16, '\0');
    block.replace(0, 4, model);
    block[5] = static_cast<char>(digit6);
    block[9] = static_cast<char>(kernel);
    block[13] = static_cast<char>(digit14);
    return r + block + std::string("\x00\x7E", 2);
}

long Millis(scantest::ScriptedPeer::Clock::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// A scanner object on port 7 of a pty whose far end the test scripts.
class ScanScripted : public ::testing::Test {
protected:
    void SetUp() override {
        test::LinkPort(dir, kPort, pty.SlavePath());
        ASSERT_EQ(comm.OpenComPort(kPort, "115200,n,8,1"), 0);
        scan.PortNumber = kPort;
        scan.ImageLength = test::kScanImageLength;
        scan.ReplyTimeout = 300;  // keeps the unanswered attempts short
        bar.SetMax(256);
    }
    void TearDown() override { comm.CloseComPort(kPort); }

    // Loads a file and leaves only the given blocks to be sent.
    void LoadOnly(const std::vector<int>& blocks) {
        dir.Write("fw.bin", test::StoredImage(test::PatternImage(), test::Trailer("2LB1Y", '7', '1', '0')));
        scan.LoadFileToMemory(dir.File("fw.bin"));
        scan.SkipBlock.fill(1);
        for (int b : blocks) scan.SkipBlock[b] = 0;
    }

    TempDir dir;
    test::PtyPair pty;
    TTolmSerialComm comm;
    TScan_Packet scan;
    TProgressBar bar{"PBar"};
    TPanel panel{"PBar_num"};
};

}  // namespace

TEST(ScanUpgrade, WholeUpgradeAgainstTheEmulatedScanner) {
    TempDir dir;
    setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
    std::vector<int> blank;
    for (int b = 1; b < 250; ++b)
        if (b % 4 != 0 && b != 77) blank.push_back(b);
    const auto image = test::PatternImage(blank);
    const std::string file = test::StoredImage(image, test::Trailer("2LB1Y", '8', '2', '4'));
    dir.Write("fw.bin", file);

    scantest::DevsimProcess sim("scanner", dir.File("COM7"), dir.File("image.bin"),
                            {"model=LB1Y", "digit6=8", "kernel=3", "digit14=4"});
    ASSERT_TRUE(sim.Ready()) << sim.ReadyLine();
    TTolmSerialComm comm;
    ASSERT_EQ(comm.OpenComPort(kPort, "115200,n,8,1"), 0);
    TScan_Packet scan;
    scan.PortNumber = kPort;
    scan.PortSettings = "115200,n,8,1";
    scan.ImageLength = test::kScanImageLength;
    TProgressBar bar("PBar");
    bar.SetMax(256);
    TPanel panel("PBar_num");
    std::vector<std::string> captions;
    panel.AddObserver([&](TControl& c, TChange change) {
        if (change == TChange::Repaint) captions.push_back(c.Caption());
    });

    EXPECT_EQ(scan.CheckConnection(&comm), 0);
    ASSERT_EQ(scan.CheckUpgradeFileVer(dir.File("fw.bin")), 0);
    EXPECT_EQ(scan.CheckUpgradeKernel10(&comm), 0) << "a newer kernel on the scanner passes";
    EXPECT_EQ(scan.CheckUpgradeKernel(&comm), -1);
    scan.LoadFileToMemory(dir.File("fw.bin"));
    ASSERT_TRUE(scan.Send_70_StartPacket(&comm));
    ASSERT_TRUE(scan.Send_70_Packet(&comm, &bar, &panel));
    ASSERT_TRUE(scan.Send_70_EndPacket(&comm));
    EXPECT_TRUE(scan.Send_30_Quit(&comm));
    comm.CloseComPort(kPort);

    EXPECT_EQ(bar.Position(), 255);
    ASSERT_FALSE(captions.empty());
    EXPECT_EQ(captions.front(), "0");
    EXPECT_EQ(captions[20], "77") << "blocks 0, 4, ..., 76, then the one non-blank block";
    EXPECT_EQ(captions.back(), "255");

    ASSERT_EQ(sim.Stop(), 0);
    const std::string received = dir.Read("image.bin");
    ASSERT_EQ(received.size(), 262144u);
    EXPECT_TRUE(received == std::string(image.begin(), image.end()));
}

TEST(ScanUpgrade, EmulatedScannerWithOlderKernelIsRefused) {
    TempDir dir;
    setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
    dir.Write("fw.bin", test::StoredImage(test::BlankImage(), test::Trailer("2LB1Y", '7', '3', '0')));
    scantest::DevsimProcess sim("scanner", dir.File("COM7"), dir.File("image.bin"), {"kernel=2"});
    ASSERT_TRUE(sim.Ready());
    TTolmSerialComm comm;
    ASSERT_EQ(comm.OpenComPort(kPort, "115200,n,8,1"), 0);
    TScan_Packet scan;
    scan.PortNumber = kPort;
    ASSERT_EQ(scan.CheckUpgradeFileVer(dir.File("fw.bin")), 0);
    EXPECT_EQ(scan.CheckUpgradeKernel10(&comm), -3);
    comm.CloseComPort(kPort);
}

TEST_F(ScanScripted, LostAcknowledgementIsRetriedAfterPauses) {
    LoadOnly({0, 1, 2});
    scantest::ScriptedPeer peer(pty, FirstGenLength, [](const std::string& r, int index) {
        // Block 1 goes unanswered twice (requests 1 and 2), then is acknowledged.
        return (BlockOf(r) == 1 && index < 3) ? std::string() : kAck;
    });
    EXPECT_TRUE(scan.Send_70_Packet(&comm, &bar, &panel));
    auto req = peer.Requests();
    ASSERT_EQ(req.size(), 5u);
    EXPECT_EQ(BlockOf(req[1].bytes), 1);
    EXPECT_EQ(BlockOf(req[3].bytes), 1);
    EXPECT_EQ(BlockOf(req[4].bytes), 2);
    // Each retry follows a full reply time-out and a 100 ms pause.
    EXPECT_GE(Millis(req[2].at - req[1].at), 300 + 100 - 20);
    EXPECT_GE(Millis(req[3].at - req[2].at), 300 + 100 - 20);
    EXPECT_EQ(bar.Position(), 2);
}

TEST_F(ScanScripted, ThreeLossesEndTheTransfer) {
    LoadOnly({0, 1, 2});
    bar.SetPosition(0);
    scantest::ScriptedPeer peer(pty, FirstGenLength,
                            [](const std::string& r, int) { return BlockOf(r) == 1 ? std::string() : kAck; });
    EXPECT_FALSE(scan.Send_70_Packet(&comm, &bar, &panel));
    auto req = peer.Requests();
    ASSERT_EQ(req.size(), 4u) << "block 0, three attempts at block 1, nothing after";
    for (int i = 1; i < 4; ++i) EXPECT_EQ(BlockOf(req[i].bytes), 1);
    EXPECT_EQ(panel.Caption(), "1");
    EXPECT_EQ(bar.Position(), 0);
}

TEST_F(ScanScripted, StartAndEndAreTriedThreeTimesWithoutPause) {
    const std::string addressedAck("\x7E\x7E\x01\x00\x00\x00\x01\x00\x00\x00\x00\x06\x06\x7E", 14);
    scantest::ScriptedPeer peer(pty, FirstGenLength, [&](const std::string& r, int index) {
        if (r.size() == 11) return index < 2 ? addressedAck : kAck;  // start: the 14-byte form does not count
        return std::string();                                         // end: never answered
    });
    EXPECT_TRUE(scan.Send_70_StartPacket(&comm));
    EXPECT_FALSE(scan.Send_70_EndPacket(&comm));
    auto req = peer.Requests();
    ASSERT_EQ(req.size(), 6u);
    EXPECT_EQ(req[0].bytes, std::string("\x7E\x7E\x01\x70\x00\x00\x04\x00\x00\x75\x7E", 11));
    for (int i = 3; i < 6; ++i) EXPECT_EQ(req[i].bytes, std::string("\x7E\x7E\x01\x70\x02\x73\x7E", 7));
}

TEST_F(ScanScripted, IdentificationReplyOfWrongLengthIsNoReply) {
    std::string reply = IdentificationReply("LB1Y", 7, 1, 0);
    scantest::ScriptedPeer peer(pty, FirstGenLength, [&](const std::string&, int index) {
        return index == 0 ? reply.substr(0, 23) : index == 1 ? reply + "\x7E" : reply;
    });
    scan.ModelCode = "LB1Y";
    scan.Digit6 = 7;
    scan.KernelDigit = 1;
    EXPECT_EQ(scan.CheckConnection(&comm), -1);
    EXPECT_EQ(scan.CheckUpgradeKernel10(&comm), -2);
    EXPECT_EQ(scan.CheckUpgradeKernel10(&comm), 0);
}
