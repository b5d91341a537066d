// Settings strings, the port map, and the termios device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <termios.h>
#include <unistd.h>

#include <cstdlib>
#include <optional>
#include <thread>

#include "TestSupport.h"
#include "platform/Portmap.h"
#include "platform/Posixserialdevice.h"
#include "platform/Serialsettings.h"

using namespace tolm;
using namespace tolm::test;

// ------------------------------------------------------------ settings string

TEST(Settings, TheSystemsStringsAndTheFieldsVariants) {
    EXPECT_EQ(ParseSettings("115200,n,8,1"), (TLineSettings{115200, TParity::None, 8, TStopBits::One}));
    EXPECT_EQ(ParseSettings("38400,n,8,1")->BaudRate, 38400);
    EXPECT_EQ(ParseSettings("9600,N,8,1")->BaudRate, 9600);
    EXPECT_EQ(ParseSettings("1200,E,7,2"), (TLineSettings{1200, TParity::Even, 7, TStopBits::Two}));
    EXPECT_EQ(ParseSettings("300,o,6,1.5"), (TLineSettings{300, TParity::Odd, 6, TStopBits::OneAndHalf}));
    EXPECT_EQ(ParseSettings("19200,m,5,1")->Parity, TParity::Mark);
    EXPECT_EQ(ParseSettings("19200,S,8,1")->Parity, TParity::Space);
}

TEST(Settings, AnythingElseIsRejected) {
    for (const char* bad : {"", "115200", "115200,n,8", "115200,n,8,1,", "115200,n,8,1,x", ",n,8,1",
                            "115200,,8,1", "115200,x,8,1", "115200,no,8,1", "115200,n,4,1", "115200,n,9,1",
                            "115200,n,8,0", "115200,n,8,3", "115200,n,8,1.0", "115200,n,8,2.5", " 115200,n,8,1",
                            "115200, n,8,1", "115200,n,8,1 ", "-9600,n,8,1", "+9600,n,8,1", "9600.0,n,8,1",
                            "12345,n,8,1", "0,n,8,1", "99999999999,n,8,1", "baud=9600 parity=N data=8 stop=1",
                            "115200;n;8;1"}) {
        EXPECT_FALSE(ParseSettings(bad).has_value()) << '"' << bad << '"';
    }
    EXPECT_FALSE(ParseSettings(std::string("9600,n,8,1\0", 11)).has_value());
}

TEST(Settings, BitsOnTheWirePerCharacter) {
    EXPECT_EQ(ParseSettings("115200,n,8,1")->HalfBitsPerChar(), 20);
    EXPECT_EQ(ParseSettings("1200,e,7,2")->HalfBitsPerChar(), 22);
    EXPECT_EQ(ParseSettings("300,n,5,1.5")->HalfBitsPerChar(), 15);
}

// ---------------------------------------------------------------- port map

namespace {
// Sets or clears environment variables for one test and puts them back after.
class ScopedEnv {
public:
    void Set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        for (auto& [name, value] : saved_) {
            if (value)
                setenv(name.c_str(), value->c_str(), 1);
            else
                unsetenv(name.c_str());
        }
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};
}  // namespace

TEST(PortMap, EntryInThePortDirectoryElseTheBuiltInPort) {
    TempDir dir;
    ScopedEnv env;
    env.Set("TOLM_PORT_DIR", dir.Path().c_str());
    LinkPort(dir, 3, "/dev/null");
    EXPECT_EQ(PortMap::PortDirectory(), dir.Path());
    EXPECT_EQ(PortMap::DevicePath(3), dir.File("COM3"));
    EXPECT_EQ(PortMap::DevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(PortMap::DevicePath(12), "/dev/ttyS11");
    EXPECT_EQ(PortMap::EntryPath(12), dir.File("COM12"));
    // A link whose device has gone still names the port: opening fails rather
    // than reaching a built-in port by surprise.
    LinkPort(dir, 4, dir.File("unplugged"));
    EXPECT_EQ(PortMap::DevicePath(4), dir.File("COM4"));
    // A device node (here a plain file) placed in the directory itself.
    dir.Write("COM5", "");
    EXPECT_EQ(PortMap::DevicePath(5), dir.File("COM5"));
    EXPECT_EQ(PortMap::DevicePath(0), "");
    EXPECT_EQ(PortMap::DevicePath(-1), "");
}

TEST(PortMap, DirectoryFallsBackToTheUsersConfiguration) {
    ScopedEnv env;
    env.Set("TOLM_PORT_DIR", nullptr);
    env.Set("XDG_CONFIG_HOME", "/cfg");
    env.Set("HOME", "/home/op");
    EXPECT_EQ(PortMap::PortDirectory(), "/cfg/tolm-upgrade/ports");
    env.Set("XDG_CONFIG_HOME", "");
    EXPECT_EQ(PortMap::PortDirectory(), "/home/op/.config/tolm-upgrade/ports");
    EXPECT_EQ(PortMap::EntryPath(2), "/home/op/.config/tolm-upgrade/ports/COM2");
    env.Set("TOLM_PORT_DIR", "");
    EXPECT_EQ(PortMap::PortDirectory(), "/home/op/.config/tolm-upgrade/ports");
}

// ------------------------------------------------------ termios device on a pty

namespace {
std::string ReadAll(ISerialDevice& dev) {
    TCommStatus st;
    std::string out;
    for (int tries = 0; tries < 200; ++tries) {
        if (dev.QueryStatus(st) && st.BytesWaiting > 0) {
            std::string buf(st.BytesWaiting, '\0');
            int n = dev.Read(reinterpret_cast<uint8_t*>(buf.data()), static_cast<int>(buf.size()));
            if (n > 0) out.append(buf.data(), static_cast<size_t>(n));
            return out;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return out;
}

termios LineOf(const std::string& path) {
    termios tio{};
    int fd = open(path.c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        tcgetattr(fd, &tio);
        close(fd);
    }
    return tio;
}
}  // namespace

TEST(PosixDevice, OpensOnlyTerminalsThatNoOneElseHolds) {
    TempDir dir;
    dir.Write("file", "data");
    PosixSerialDevice dev;
    EXPECT_FALSE(dev.Open(dir.File("file")));
    EXPECT_FALSE(dev.Open("/dev/null"));
    EXPECT_FALSE(dev.Open(dir.File("missing")));
    EXPECT_FALSE(dev.Open(""));
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_EQ(dir.Read("file"), "data");

    PtyPair pty;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    PosixSerialDevice second;
    EXPECT_FALSE(second.Open(pty.SlavePath()));
    dev.Close();
    EXPECT_FALSE(dev.IsOpen());
    EXPECT_TRUE(second.Open(pty.SlavePath()));
}

TEST(PosixDevice, RawLineMovesEveryByteBothWays) {
    PtyPair pty;
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    ASSERT_TRUE(dev.SetLineState(*ParseSettings("115200,n,8,1"), false));
    dev.SetTimeouts({100, 0, 0, 5, 500});

    std::string all(256, '\0');
    for (int i = 0; i < 256; ++i) all[static_cast<size_t>(i)] = static_cast<char>(i);
    pty.Write(all);
    std::string got;
    while (got.size() < all.size()) {
        auto chunk = ReadAll(dev);
        if (chunk.empty()) break;
        got += chunk;
    }
    EXPECT_EQ(got, all);  // no CR/LF translation, no XON/XOFF, NUL kept

    EXPECT_EQ(dev.WriteSome(reinterpret_cast<const uint8_t*>(all.data()), 256), 256);
    EXPECT_EQ(pty.Read(2000, 256), all);
    EXPECT_EQ(dev.OutputQueued(), 0);
}

TEST(PosixDevice, SettingsMapOntoTheTerminalFlags) {
    auto flags = [](const char* settings, bool rtsCts) {
        termios tio{};
        tio.c_iflag = IXON | IXOFF | ICRNL | IGNPAR;
        tio.c_cflag = CRTSCTS | PARENB | CS5;
        tio.c_lflag = ICANON | ECHO;
        EXPECT_TRUE(ApplyLineSettings(tio, *ParseSettings(settings), rtsCts));
        return tio;
    };
    termios n81 = flags("115200,n,8,1", false);
    EXPECT_EQ(cfgetospeed(&n81), B115200);
    EXPECT_EQ(cfgetispeed(&n81), B115200);
    EXPECT_EQ(n81.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), tcflag_t(CS8));
    EXPECT_EQ(n81.c_cflag & (CLOCAL | CREAD), tcflag_t(CLOCAL | CREAD));
    EXPECT_EQ(n81.c_iflag & (IXON | IXOFF | ICRNL | IGNPAR | INPCK), 0u);
    EXPECT_EQ(n81.c_lflag & (ICANON | ECHO), 0u);
    EXPECT_EQ(n81.c_cc[VMIN], 0);

    termios e72 = flags("9600,e,7,2", true);
    EXPECT_EQ(e72.c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS),
              tcflag_t(CS7 | PARENB | CSTOPB | CRTSCTS));
    EXPECT_TRUE(e72.c_iflag & INPCK);
    EXPECT_EQ(flags("300,o,6,1", false).c_cflag & (CSIZE | PARENB | PARODD | CMSPAR), tcflag_t(CS6 | PARENB | PARODD));
    EXPECT_EQ(flags("300,m,5,1.5", false).c_cflag & (CSIZE | PARENB | PARODD | CMSPAR | CSTOPB),
              tcflag_t(CS5 | PARENB | PARODD | CMSPAR | CSTOPB));
    EXPECT_EQ(flags("300,s,8,1", false).c_cflag & (PARENB | PARODD | CMSPAR), tcflag_t(PARENB | CMSPAR));
    termios any{};
    EXPECT_FALSE(ApplyLineSettings(any, TLineSettings{12345, TParity::None, 8, TStopBits::One}, false));
}

TEST(PosixDevice, LineStateFollowsTheSettingsWithoutEmptyingTheInput) {
    PtyPair pty;
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    ASSERT_TRUE(dev.SetLineState(*ParseSettings("115200,n,8,1"), false));
    termios tio = LineOf(pty.SlavePath());
    EXPECT_EQ(cfgetospeed(&tio), B115200);
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | IGNBRK), 0u);

    pty.Write("kept");
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_TRUE(dev.SetLineState(*ParseSettings("9600,m,7,2"), true));
    tio = LineOf(pty.SlavePath());
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    // A pty forces 8 data bits without parity enable; the rest of the framing stays.
    EXPECT_EQ(tio.c_cflag & (CMSPAR | PARODD | CSTOPB | CRTSCTS), tcflag_t(CMSPAR | PARODD | CSTOPB | CRTSCTS));
    EXPECT_EQ(ReadAll(dev), "kept");
}

TEST(PosixDevice, PurgeEmptiesTheInput) {
    PtyPair pty;
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    pty.Write("junk");
    TCommStatus st;
    for (int i = 0; i < 200 && (!dev.QueryStatus(st) || st.BytesWaiting < 4); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(st.BytesWaiting, 4u);
    EXPECT_TRUE(dev.Purge(PURGE_RXCLEAR));
    ASSERT_TRUE(dev.QueryStatus(st));
    EXPECT_EQ(st.BytesWaiting, 0u);
}

TEST(PosixDevice, PseudoTerminalHasNoModemLinesOrErrorCounters) {
    PtyPair pty;
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    uint32_t bits = 123;
    EXPECT_FALSE(dev.ModemStatus(bits));
    EXPECT_EQ(bits, 0u);
    EXPECT_FALSE(dev.LineAction(TLineAction::SetDtr));
    TCommStatus st;
    EXPECT_TRUE(dev.QueryStatus(st));
    EXPECT_EQ(st.Errors, 0u);
    // XOFF holds the output: nothing is taken until XON.
    EXPECT_TRUE(dev.LineAction(TLineAction::SetXoff));
    EXPECT_EQ(dev.WriteSome(reinterpret_cast<const uint8_t*>("abc"), 3), 0);
    EXPECT_TRUE(dev.LineAction(TLineAction::SetXon));
    EXPECT_EQ(dev.WriteSome(reinterpret_cast<const uint8_t*>("abc"), 3), 3);
    EXPECT_EQ(pty.Read(2000, 3), "abc");
}

TEST(PosixDevice, ReadWaitsTheIntervalGapAndTellsIdleFromGone) {
    PtyPair pty;
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    ASSERT_TRUE(dev.SetLineState(*ParseSettings("115200,n,8,1"), false));
    dev.SetTimeouts({1000, 0, 0, 5, 500});
    uint8_t buf[4];
    EXPECT_EQ(dev.Read(buf, 4), 0) << "an idle line is not a hung-up one";

    // The rest of a message that follows within the gap belongs to the same read.
    pty.Write("ab");
    std::thread late([&pty] {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        pty.Write("cd");
    });
    const int n = dev.Read(buf, 4);
    late.join();
    ASSERT_EQ(n, 4);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(buf), 4), "abcd");
}

TEST(PosixDevice, HungUpLineFailsEveryOperationAtOnce) {
    PtyPair pty;
    PosixSerialDevice dev;
    ASSERT_TRUE(dev.Open(pty.SlavePath()));
    dev.SetTimeouts({100, 0, 0, 5, 500});
    pty.CloseMaster();
    TCommStatus st;
    EXPECT_FALSE(dev.QueryStatus(st));
    EXPECT_EQ(st.BytesWaiting, 0u);
    uint8_t buf[8];
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(dev.Read(buf, 8), -1);
    EXPECT_EQ(dev.WriteSome(buf, 8), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
    dev.Close();
    EXPECT_FALSE(dev.IsOpen());
}
