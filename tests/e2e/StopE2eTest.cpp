// SIGINT or SIGTERM during an upgrade on the command line: the exchange in
// progress finishes, nothing more is sent, the port is closed, the outcome is
// printed and the exit status tells the signal.
#include "E2eFixture.h"

using namespace tolm::e2e;

TEST_F(E2eTest, SignalDuringAnUpgradeStopsItAfterTheCurrentExchange) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {});  // a full image: about 25 s at line speed
    const std::pair<const char*, int> signals[] = {{"INT", 130}, {"TERM", 143}};
    for (const auto& [name, status] : signals) {
        const std::string transfers = dir.File(std::string("transfers-") + name);
        Device dev(TOLM_DEVSIM, {"run", "scanner", "--link", dir.File("COM3"), "--baud-emulation", "--transfer-log",
                                 transfers});
        ASSERT_FALSE(dev.Pty().empty());
        // Run in the background of a shell that signals it once the transfer is under way.
        const std::string script = std::string(TOLM_UPGRADE_CLI) + " upgrade --port 3 '" + fw +
                                   "' & p=$!; sleep 3; kill -" + name + " $p; wait $p";
        auto r = tolm::test::Run("/bin/sh", {"-c", script}, 60000);
        EXPECT_EQ(r.exitCode, status) << name << ": " << r.err;
        EXPECT_EQ(r.LastOutLine(), "Upgrade Error") << name;
        EXPECT_NE(r.err.find(std::string("SIG") + name + ": stopping after the current exchange"), std::string::npos)
            << r.err;
        dev.Stop();
        EXPECT_TRUE(dir.Read(std::string("transfers-") + name).empty()) << "the transfer went on to its end";
    }
}
