// The computer stays awake during a transfer: the window's upgrade against an
// emulated scanner, with the system bus a private one on which a stand-in for
// logind records every lock it hands out and the moment it is given back.
#include <gtest/gtest.h>

#include <errno.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include "Programs.h"
#include "TestSupport.h"
#include "app/Unit1.h"
#include "platform/Sleepguard.h"

using namespace tolm;

namespace {

// tests/sleepguard/fake-login1.py: a dbus-daemon of its own and the stand-in.
class PrivateSystemBus {
public:
    PrivateSystemBus(const std::string& dir, bool withLogin1) : dir_(dir) {
        std::vector<const char*> argv{"/usr/bin/python3", TOLM_FAKE_LOGIN1, dir.c_str()};
        if (!withLogin1) argv.push_back("--without-login1");
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            execv(argv[0], const_cast<char**>(argv.data()));
            _exit(127);
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (access((dir + "/ready").c_str(), F_OK) != 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ~PrivateSystemBus() {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    bool Ready() const { return access((dir_ + "/ready").c_str(), F_OK) == 0; }
    std::string Address() const { return "unix:path=" + dir_ + "/bus"; }
    // What the stand-in recorded, one entry per line.
    std::vector<std::string> Calls() const {
        std::ifstream in(dir_ + "/calls");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

private:
    std::string dir_;
    int pid_ = -1;
};

const std::string kLockTaken =
    std::string("inhibit sleep:shutdown|") + program_invocation_short_name + "|Firmware upgrade in progress|block";

class SleepGuardTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
        ASSERT_TRUE(bus.Ready()) << "the private bus did not start";
        setenv("DBUS_SYSTEM_BUS_ADDRESS", bus.Address().c_str(), 1);
        firmware = dir.File("lb1y.bin");
        ASSERT_EQ(test::Run(TOLM_DEVSIM, {"gen", "scanner-fw", "--out", firmware, "--set", "model=LB1Y"}, 30000).exitCode,
                  0);
        form.OpenDialog1.SetChooser([this](const TOpenDialog&, std::string& path) {
            path = firmware;
            return true;
        });
        form.FormActivate();
        // What the stand-in has recorded when the data phase has begun.
        form.PBar.AddObserver([this](TControl&, TChange) {
            if (form.PBar.Position() > 0 && callsMidway.empty()) callsMidway = bus.Calls();
        });
    }

    std::unique_ptr<test::BackgroundDevice> Scanner(int port, const std::vector<std::string>& more = {}) {
        std::vector<std::string> args{"run", "scanner", "--link", dir.File("COM" + std::to_string(port))};
        args.insert(args.end(), more.begin(), more.end());
        auto device = std::make_unique<test::BackgroundDevice>(TOLM_DEVSIM, args);
        EXPECT_FALSE(device->Pty().empty());
        return device;
    }

    void Upgrade(int port) {
        form.ComList.SetItemIndex(port - 1);
        form.UpgradeClick();
    }

    // The stand-in notices a closed lock at its next turn.
    std::vector<std::string> CallsOnceReleased() {
        test::PumpUntil([this] { return bus.Calls().size() >= 2; }, 5000);
        return bus.Calls();
    }

    test::TempDir dir;
    PrivateSystemBus bus{dir.Path(), true};
    test::ScopedRecordingSink messages;
    TForm1 form;
    std::string firmware;
    std::vector<std::string> callsMidway;
};

TEST_F(SleepGuardTest, AnUpgradeHoldsTheLockFromItsFirstByteToItsEnd) {
    // A port that cannot be opened sends nothing, and takes nothing.
    Upgrade(9);
    ASSERT_EQ(messages->Texts().size(), 1u);
    EXPECT_EQ(messages->Texts()[0].rfind("E001", 0), 0u) << messages->Texts()[0];
    EXPECT_TRUE(bus.Calls().empty()) << bus.Calls()[0];

    auto device = Scanner(3);
    Upgrade(3);
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
    EXPECT_EQ(callsMidway, std::vector<std::string>{kLockTaken}) << "during the transfer";
    EXPECT_EQ(CallsOnceReleased(), (std::vector<std::string>{kLockTaken, "released"})) << "after the transfer";
}

TEST_F(SleepGuardTest, ATransferThatFailsOrIsStoppedGivesTheLockBack) {
    {
        auto device = Scanner(3, {"--fault", "vanish:50"});  // the adapter is pulled mid-transfer
        Upgrade(3);
        EXPECT_EQ(form.Error.Caption(), "Upgrade Error");
        EXPECT_EQ(CallsOnceReleased(), (std::vector<std::string>{kLockTaken, "released"}));
    }
    auto device = Scanner(4);
    form.PBar.AddObserver([this](TControl&, TChange) {
        if (form.PBar.Position() == 20) form.TolmSerialComm1.RequestStop();  // a window closed, Ctrl-C
    });
    callsMidway.clear();
    Upgrade(4);
    EXPECT_EQ(form.Error.Caption(), "Upgrade Error");
    EXPECT_FALSE(form.TolmSerialComm1.AnyPortOpen());
    test::PumpUntil([this] { return bus.Calls().size() >= 4; }, 5000);
    EXPECT_EQ(bus.Calls(), (std::vector<std::string>{kLockTaken, "released", kLockTaken, "released"}));
}

TEST(SleepGuardWithoutLogind, TheUpgradeRunsAsBeforeWithNoBusOrNoLoginManager) {
    test::TempDir dir;
    PrivateSystemBus busAlone(dir.Path(), false);
    ASSERT_TRUE(busAlone.Ready());
    for (const std::string& address : {busAlone.Address(), "unix:path=" + dir.File("no-bus-here")}) {
        setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
        TSleepGuard guard;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_FALSE(guard.Hold()) << address;
        EXPECT_FALSE(guard.Held());
        guard.Release();
        // Refused at once: no waiting out the answer's time-out.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(TSleepGuard::kAnswerTimeoutMs))
            << address;
    }
    // And an upgrade through it passes, with no message.
    setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
    setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    const std::string firmware = dir.File("lb1y.bin");
    ASSERT_EQ(test::Run(TOLM_DEVSIM, {"gen", "scanner-fw", "--out", firmware}, 30000).exitCode, 0);
    test::BackgroundDevice device(TOLM_DEVSIM, {"run", "scanner", "--link", dir.File("COM3")});
    test::ScopedRecordingSink messages;
    TForm1 form;
    form.OpenDialog1.SetChooser([&](const TOpenDialog&, std::string& path) {
        path = firmware;
        return true;
    });
    form.FormActivate();
    form.ComList.SetItemIndex(2);
    form.UpgradeClick();
    EXPECT_EQ(form.Error.Caption(), "Upgrade PASS");
    EXPECT_TRUE(messages->Texts().empty()) << messages->Texts()[0];
}

}  // namespace
