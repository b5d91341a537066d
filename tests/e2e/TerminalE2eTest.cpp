// Quorin and KV terminals end to end: tolm-upgrade-cli against emulated
// terminals on pseudo-terminals.
#include "E2eFixture.h"

using namespace tolm::e2e;

TEST_F(E2eTest, QuorinTerminalIsUpgradedAfterItsAnnouncement) {
    auto fw = Generate("quorin-firmware", "qr.bin", {"body-size=560128", "version=105", "kernel=3"});
    auto dev = StartDevice("quorin", 7, {"kernel=3", "announce-ms=300"});
    auto r = Cli({"upgrade", "--port", "7", "--wait", "30", fw}, 300000);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.LastOutLine(), "Upgrade PASS");
    dev->Stop();
    EXPECT_TRUE(Image(7) == Decoded(fw, 0, 560128)) << "the terminal's body differs from the file";
}

TEST_F(E2eTest, QuorinWithoutAnnouncementFailsAfterTheWait) {
    auto fw = Generate("quorin-firmware", "qr.bin", {});
    tolm::test::PtyPair silent;
    tolm::test::LinkPort(dir, 7, silent.SlavePath());
    auto r = Cli({"upgrade", "--port", "7", "--wait", "1", fw});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.LastOutLine(), "");
    EXPECT_NE(r.err.find("no announcement"), std::string::npos) << r.err;
}

TEST_F(E2eTest, KvFirmwareAndFontAreWrittenAtTheirDataPositions) {
    constexpr size_t kFlash = 2u << 20;
    {
        auto fw = Generate("kv-firmware", "kv.bin", {"body-size=65536", "blank=8192-20480", "kernel=3"});
        auto dev = StartDevice("kv", 8, {"kernel=3"});
        auto r = Cli({"upgrade", "--port", "8", fw});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.LastOutLine(), "Upgrade PASS");
        dev->Stop();
        std::string expected = Decoded(fw, 0, 65536 + 1024);
        expected.resize(kFlash, '\xFF');
        EXPECT_TRUE(Image(8) == expected) << "flash differs from the non-blank entries";
    }
    {
        auto font = Generate("kv-font", "big5.fon", {"size=10000"});
        auto dev = StartDevice("kv", 9, {});
        auto r = Cli({"upgrade", "--port", "9", font});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_EQ(r.LastOutLine(), "Font Upgrade PASS");
        dev->Stop();
        std::string expected(512 * 1024, '\xFF');
        expected += dir.Read("big5.fon");
        expected.resize(kFlash, '\xFF');
        EXPECT_TRUE(Image(9) == expected) << "font entries belong from data position 512 on";
    }
}

TEST_F(E2eTest, KvTerminalWithLowerKernelIsRefused) {
    auto fw = Generate("kv-firmware", "kv.bin", {"kernel=4"});
    auto dev = StartDevice("kv", 8, {"kernel=3"});
    auto r = Cli({"upgrade", "--port", "8", fw});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.LastOutLine(), "G006.16 Firmware dons not support this model");
}
