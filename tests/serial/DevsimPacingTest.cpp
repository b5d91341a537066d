// The component against tolm-devsim with --baud-emulation: on a slow line the
// reply trickles in byte by byte, and must still come back whole, and no
// sooner than the line could carry request and reply.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "protocol/Frame.h"
#include "serial/Tolmserialcomm.h"

#ifdef TOLM_DEVSIM

using namespace tolm;
using namespace tolm::test;
using namespace std::chrono;

namespace {

// `tolm-devsim run ...`, ready once it has printed its PTY line; stopped on destruction.
class PacedDevice {
public:
    explicit PacedDevice(std::vector<std::string> args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        args.insert(args.begin(), TOLM_DEVSIM);
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            execv(TOLM_DEVSIM, argv.data());
            _exit(127);
        }
        close(out[1]);
        std::string line;
        char c;
        while (read(out[0], &c, 1) == 1 && c != '\n') line += c;
        close(out[0]);
        ready_ = line.rfind("PTY ", 0) == 0;
    }
    ~PacedDevice() {
        if (pid_ <= 0) return;
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    bool Ready() const { return ready_; }

private:
    pid_t pid_ = -1;
    bool ready_ = false;
};

}  // namespace

TEST(DevsimPacing, ASlowLinesReplyComesWholeAndNoSoonerThanTheLineAllows) {
    TempDir dir;
    LinkPort(dir, 1, "/dev/null");  // points the port map at dir; the device replaces the link
    PacedDevice device({"run", "scanner", "--link", dir.File("COM1"), "--baud-emulation", "--set", "baud=9600"});
    ASSERT_TRUE(device.Ready());

    TTolmSerialComm comm;
    ASSERT_EQ(comm.OpenComPort(1, "9600,n,8,1"), 0);
    // The first-generation scanner's identification request; it answers 24 bytes.
    const TByteBuffer request = frame::Wrap(TByteBuffer{0x01, 0x10});
    const auto lineTime = microseconds((request.Length() + 24) * 10 * 1'000'000LL / 9600);
    for (int stated : {24, 0}) {
        SCOPED_TRACE(stated);
        auto start = steady_clock::now();
        TByteBuffer reply = comm.SendByteReceiveByte(1, request, 3000, stated);
        auto took = steady_clock::now() - start;
        ASSERT_EQ(reply.Length(), 24) << "bytes a millisecond apart are one reply";
        EXPECT_EQ(reply[0], 0x7E);
        EXPECT_EQ(reply[23], 0x7E);
        EXPECT_GE(took, lineTime - milliseconds(1));
    }
    EXPECT_EQ(comm.CloseComPort(1), 0);
}

#endif  // TOLM_DEVSIM
