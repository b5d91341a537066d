// Quorin and KV upgrades over faulty lines: tolm-upgrade-cli against emulated
// terminals whose replies are lost, damaged or followed by noise, and whose
// line goes away.
#include "FaultE2eFixture.h"

using namespace tolm::e2e;

namespace {
// 20 data packets. Replies: 1 identification, 2 start, 3-22 data, 23 end.
const std::vector<std::string> kQuorinFile{"body-size=20480", "version=105", "kernel=3"};
const std::vector<std::string> kQuorin{"kernel=3", "announce-ms=300"};
// Replies: 1-2 identification, 3 start, 4-15 the entries sent, 16 end.
const std::vector<std::string> kKvFile{"body-size=65536", "blank=8192-20480", "kernel=3"};
}  // namespace

TEST_F(FaultE2eTest, QuorinAbsorbsLostDamagedAndNoisyReplies) {
    auto fw = Generate("quorin-firmware", "qr.bin", kQuorinFile);
    auto dev = StartFaulty("quorin", 7, kQuorin, {"drop:2", "corrupt:6", "noise:10", "length:14", "drop:20"});
    auto r = Cli({"upgrade", "--port", "7", "--wait", "20", fw});
    ExpectPass(r);
    dev->Stop();
    EXPECT_TRUE(Image(7) == Decoded(fw, 0, 20480)) << "the terminal's body differs from the file";
    EXPECT_TRUE(Fired(FaultLog(7), {"reply 2: drop", "reply 6: corrupt", "reply 10: noise", "reply 14: length",
                                    "reply 20: drop"}));
}

TEST_F(FaultE2eTest, QuorinFailsOnThreeLossesInARowOrAVanishedLine) {
    auto fw = Generate("quorin-firmware", "qr.bin", kQuorinFile);
    {
        auto dev = StartFaulty("quorin", 7, kQuorin, {"drop:8-10"});
        ExpectFailure(TimedCli({"upgrade", "--port", "7", "--wait", "20", fw}), "Upgrade Error");
    }
    {
        auto dev = StartFaulty("quorin", 8, kQuorin, {"vanish:8"});
        ExpectFailure(TimedCli({"upgrade", "--port", "8", "--wait", "20", fw}), "Upgrade Error");
        EXPECT_FALSE(LinkExists(8));
    }
}

TEST_F(FaultE2eTest, KvAbsorbsLostSplitAndNoisyReplies) {
    constexpr size_t kFlash = 2u << 20;
    auto fw = Generate("kv-firmware", "kv.bin", kKvFile);
    auto dev = StartFaulty("kv", 8, {"kernel=3"}, {"drop:4", "split:6:ms=60", "noise:8", "twice:10", "drop:16"});
    auto r = Cli({"upgrade", "--port", "8", fw});
    ExpectPass(r);
    dev->Stop();
    std::string expected = Decoded(fw, 0, 65536 + 1024);
    expected.resize(kFlash, '\xFF');
    EXPECT_TRUE(Image(8) == expected) << "flash differs from the non-blank entries";
    EXPECT_TRUE(Fired(FaultLog(8), {"reply 4: drop", "reply 6: split", "reply 8: noise", "reply 10: twice",
                                    "reply 16: drop"}));
}

TEST_F(FaultE2eTest, KvFailsOnThreeLossesInARowOrAVanishedLine) {
    auto fw = Generate("kv-firmware", "kv.bin", kKvFile);
    {
        auto dev = StartFaulty("kv", 8, {"kernel=3"}, {"drop:6-8"});
        ExpectFailure(TimedCli({"upgrade", "--port", "8", fw}), "Upgrade Error");
    }
    {
        auto dev = StartFaulty("kv", 9, {"kernel=3"}, {"vanish:6"});
        ExpectFailure(TimedCli({"upgrade", "--port", "9", fw}), "Upgrade Error");
        EXPECT_FALSE(LinkExists(9));
    }
}
