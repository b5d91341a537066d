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

TEST_F(E2eTest, QuorinTerminalThatTakesTheConnectRequestGetsNoTransfer) {
    auto fw = Generate("quorin-firmware", "qr.bin", {});
    auto dev = StartDevice("quorin", 7, {"connect-ack=1", "announce-ms=200"});
    auto r = Cli({"upgrade", "--port", "7", "--wait", "3", fw});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.LastOutLine(), "") << "the sequence ends without a message";
    EXPECT_NE(r.err.find("connect request"), std::string::npos) << r.err;
    dev->Stop();
    EXPECT_TRUE(Image(7).empty()) << "no firmware start reached the terminal";
}

TEST_F(E2eTest, QuorinFileCommandsWorkOnTheTerminalsDrives) {
    // The terminal greets each new run of the command line after a quiet spell.
    auto dev = StartDevice("quorin", 7, {"announce-ms=100", "announce-again-ms=400", "files=A:OLD.TXT:100",
                                         "capacity=100000"});
    auto quorin = [&](std::vector<std::string> args) {
        args.insert(args.begin(), "quorin");
        args.insert(args.end(), {"--port", "7", "--wait", "20"});
        return Cli(args);
    };
    // Two blocks, the second partly filled: its length bytes are checked by the terminal.
    std::string prices(5000, '\0');
    for (size_t i = 0; i < prices.size(); ++i) prices[i] = static_cast<char>('a' + i % 23);
    dir.Write("prices.txt", prices);

    auto put = quorin({"put", dir.File("prices.txt")});
    EXPECT_EQ(put.exitCode, 0) << put.out << put.err;
    EXPECT_EQ(put.LastOutLine(), "sent");
    auto info = quorin({"info", "prices.txt"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("size: 5000"), std::string::npos) << info.out;
    auto list = quorin({"dir"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    EXPECT_NE(list.out.find("PRICES.TXT"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("5,000 Bytes"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("OLD.TXT"), std::string::npos) << list.out;
    EXPECT_EQ(quorin({"df"}).LastOutLine(), "94900") << "capacity less both files";
    EXPECT_EQ(quorin({"df", "--selector", "1"}).LastOutLine(), "100000");
    auto del = quorin({"delete", "prices.txt"});
    EXPECT_EQ(del.exitCode, 0) << del.err;
    EXPECT_EQ(del.LastOutLine(), "deleted");
    auto again = quorin({"delete", "prices.txt"});
    EXPECT_EQ(again.exitCode, 1) << "a missing file is not acknowledged";
    EXPECT_EQ(quorin({"info", "prices.txt"}).exitCode, 1);
}

TEST_F(E2eTest, QuorinCommandsIgnoreAnotherFamilysAnnouncement) {
    auto dev = StartDevice("quorin", 7, {"type=4", "announce-ms=100"});
    auto r = Cli({"quorin", "dir", "--port", "7", "--wait", "2"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("device of type 4"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no announcement"), std::string::npos) << r.err;
}

TEST_F(E2eTest, KvCommandFilesReachTheTerminalAtTheSpeedsItExpects) {
    auto dev = StartDevice("kv", 8, {});
    dir.Write("mode.bin", std::string("\x1B\x1B\x55"));
    // Identification and quit requests to terminal 00 00 00 01.
    dir.Write("info.bin", std::string("\x7E\x7E\x04\0\0\0\0\0\0\0\x01\x10\x15\x7E", 14));
    dir.Write("quit.bin", std::string("\x7E\x7E\x04\0\0\0\0\0\0\0\x01\x30\x35\x7E", 14));
    auto kv = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"kv", "send", "--port", "8"});
        return Cli(args);
    };
    EXPECT_EQ(kv({"--reply", dir.File("info.bin")}).LastOutLine(), "(no answer)") << "not yet in upgrade mode";
    auto mode = kv({"--baud", "9600", dir.File("mode.bin")});
    EXPECT_EQ(mode.exitCode, 0) << mode.err;
    EXPECT_EQ(mode.LastOutLine(), "sent");
    EXPECT_EQ(kv({"--baud", "9600", "--reply", dir.File("info.bin")}).exitCode, 1)
        << "upgrade mode runs at 38400 only";
    auto info = kv({"--reply", dir.File("info.bin")});
    EXPECT_EQ(info.exitCode, 0) << info.err;
    EXPECT_NE(info.out.find("4B 56 31 59"), std::string::npos) << "identification block KV1Y: " << info.out;
    auto quit = kv({"--chunk", "5", "--pause", "20", dir.File("quit.bin")});
    EXPECT_EQ(quit.exitCode, 0) << quit.err;
    EXPECT_EQ(quit.LastOutLine(), "sent");
    // The chunked quit's acknowledgement may still be on its way when the next
    // command opens the port and be taken as its answer; the identification is not.
    auto after = kv({"--reply", dir.File("info.bin")});
    EXPECT_EQ(after.out.find("4B 56 31 59"), std::string::npos) << "the quit left upgrade mode: " << after.out;
}
