// Bad firmware files on the command line: too short, cut mid-image, a folder,
// unreadable, changed between the check and the transfer, and names with
// spaces and non-ASCII characters. Each gets a clear result and exit status;
// none reaches a device as an upgrade.
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>

#include "FaultE2eFixture.h"

using namespace tolm::e2e;

namespace {
const std::string kSparse = "blank=1-150";

// tolm-upgrade-cli started in the background, its stderr read as it comes.
class RunningCli {
public:
    explicit RunningCli(const std::vector<std::string>& args) {
        std::vector<std::string> all{TOLM_UPGRADE_CLI};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        int errPipe[2];
        if (pipe2(errPipe, O_CLOEXEC) != 0) return;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(errPipe[1], 2);
            int devnull = open("/dev/null", O_RDWR);
            dup2(devnull, 0);
            dup2(devnull, 1);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(errPipe[1]);
        err_ = errPipe[0];
    }
    ~RunningCli() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            Wait();
        }
        if (err_ >= 0) close(err_);
    }
    // Reads stderr until it holds text; false after timeoutMs.
    bool WaitForText(const std::string& text, int timeoutMs) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (seen_.find(text) == std::string::npos) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            pollfd pfd{err_, POLLIN, 0};
            if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) continue;
            char buf[512];
            ssize_t n = read(err_, buf, sizeof buf);
            if (n <= 0) return false;
            seen_.append(buf, static_cast<size_t>(n));
        }
        return true;
    }
    // Waits for the exit; its status, -1 when killed.
    int Wait() {
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    const std::string& Seen() const { return seen_; }

private:
    int pid_ = -1;
    int err_ = -1;
    std::string seen_;
};
}  // namespace

TEST_F(FaultE2eTest, FilesTooShortForATrailerOrAnImageAreRefusedBeforeThePort) {
    auto fw = Generate("scanner-fw", "full.bin", {kSparse});
    const std::string full = dir.Read("full.bin");
    auto dev = StartFaulty("scanner", 3, {}, {});
    for (size_t size : {0u, 1u, 1023u, 1024u, 1045u}) {
        const std::string name = "head-" + std::to_string(size) + ".bin";
        dir.Write(name, full.substr(0, size));
        auto r = Cli({"upgrade", "--port", "3", dir.File(name)});
        EXPECT_EQ(r.exitCode, 2) << name << ": " << r.err;
        EXPECT_EQ(r.LastOutLine(), "G001.1 Upgrade file invalid") << name;
    }
    // The image's first block, or nothing of it, before an intact trailer:
    // the scanner would get its trailer and blank flash as the image.
    // (The trailer alone is too short for the scanner's own trailer check.)
    for (size_t imageBytes : {0u, 21u, 1024u}) {
        const std::string name = "stub-" + std::to_string(imageBytes) + ".bin";
        dir.Write(name, full.substr(0, imageBytes) + full.substr(full.size() - 1024));
        auto r = Cli({"upgrade", "--port", "3", dir.File(name)});
        EXPECT_EQ(r.exitCode, 2) << name << ": " << r.err;
        EXPECT_NE(r.err.find(imageBytes == 0 ? "沒有發現Bin檔案" : "G001.1 Upgrade file invalid"), std::string::npos)
            << name << ": " << r.err;
        EXPECT_EQ(r.out.find("PASS"), std::string::npos) << name;
    }
    // Cut mid-image, so its trailer is gone.
    auto cut = Generate("scanner-fw", "cut.bin", {kSparse, "truncate=150000"});
    auto r = Cli({"upgrade", "--port", "3", cut});
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(r.LastOutLine(), "G001.1 Upgrade file invalid");
    dev->Stop();
    EXPECT_TRUE(Image(3) == std::string(262144, '\xFF')) << "a refused file reached the scanner";
}

TEST_F(FaultE2eTest, FolderAndUnreadableFileAreRefused) {
    std::filesystem::create_directory(dir.File("fw.bin"));
    auto folder = Cli({"upgrade", "--port", "3", dir.File("fw.bin")});
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_NE(folder.err.find("directory"), std::string::npos) << folder.err;

    if (geteuid() == 0) GTEST_SKIP() << "running as root, which reads a file without read permission";
    auto fw = Generate("scanner-fw", "locked.bin", {kSparse});
    chmod(fw.c_str(), 0);
    auto locked = Cli({"upgrade", "--port", "3", fw});
    EXPECT_EQ(locked.exitCode, 2);
    EXPECT_NE(locked.err.find("ermission"), std::string::npos) << locked.err;
}

TEST_F(FaultE2eTest, NameWithSpacesAndNonAsciiCharactersIsUpgraded) {
    std::filesystem::create_directory(dir.File("new firmware ü"));
    auto fw = Generate("scanner-fw", "new firmware ü/掃描器 韌體 v1.bin", {kSparse});
    auto dev = StartFaulty("scanner", 3, {}, {});
    auto r = Cli({"upgrade", "--port", "3", fw});
    ExpectPass(r);
    dev->Stop();
    EXPECT_TRUE(Image(3) == Decoded(fw, 0, 262144));
}

// A Quorin file is read again when the terminal announces itself, which may
// be long after its check: a file cut short meanwhile must not be sent.
TEST_F(FaultE2eTest, QuorinFileCutWhileWaitingForTheTerminalIsNotSent) {
    auto fw = Generate("quorin-firmware", "qr.bin", {"body-size=20480", "kernel=3"});
    // The first announcement comes before the port is opened (and is purged
    // with the port's input); the next five seconds later, long after the
    // command has checked the file and opened the port.
    auto dev = StartFaulty("quorin", 7, {"kernel=3", "announce-ms=5000"}, {});
    tolm::test::Pump(500);
    RunningCli cli({"upgrade", "--port", "7", "--wait", "20", fw});
    ASSERT_TRUE(cli.WaitForText("waiting up to", 20000)) << cli.Seen();
    std::filesystem::resize_file(fw, 10000);
    EXPECT_EQ(cli.Wait(), 1);
    dev->Stop();
    EXPECT_TRUE(Image(7).empty()) << "the terminal was sent a body";
    EXPECT_TRUE(Fired(FaultLog(7), {"replies 1"})) << "only the identification should have been asked";
}
