// tolm-bench-upgrade: how close a whole upgrade comes to the time its bytes
// need on the serial line.
//
// For each family it generates a firmware file with tolm-devsim and serves the
// emulated device on a pseudo-terminal paced at the family's line speed
// (tolm-devsim run ... --baud-emulation). It reports the line time of the
// bytes exchanged (10 bits a byte at the port's speed, both directions), the
// measured time and their ratio, once with the serial component's poll(2)
// waiting and once with the fixed 100 ms sleeping passes
// (TOLM_SERIAL_POLLING=sleep selects those in any program), two ways:
//
//  - in this process, through the protocol classes as the upgrade driver
//    calls them, counting the bytes at the port. Measured: the protocol
//    operations, their own pauses included. Not measured: the driver's own
//    waits (100 ms, 200 ms), the wait for a terminal's announcement before
//    the first request, and the Quorin connect request (0x07), which a
//    terminal in normal mode answers with silence, so that it always costs
//    its 1000 ms time-out;
//  - by running `tolm-upgrade-cli upgrade`, from its start to its exit, with
//    the bytes counted by the emulator: the whole driver with every wait and
//    time-out, and the program's own start. With --wine PREFIX, --cli names
//    the Windows build, which runs under Wine with its COM port in PREFIX.
//    Each run also reports its processor time, and under Wine that of the
//    prefix's server meanwhile (each call on a port or an event is one to
//    it). Run with LD_PRELOAD naming tests/windows' modem-line library, the
//    COM port keeps WaitCommEvent pending as a real driver's does.
//
// Then it measures the wake-up delay of a single exchange: from the moment a
// 14-byte reply has been written until the caller has it.
//
//   tolm-bench-upgrade [--devsim PATH] [--cli PATH | --no-cli] [--wine PREFIX] [--families scanner,tid,quorin,kv]
//                      [--modes events,sleep] [--kv-body BYTES] [--wake-samples N]
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/Serialdevice.h"
#include "protocol/Frame.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"
#include "toolkit/Event.h"
#include "toolkit/MainThread.h"

using namespace tolm;
using Clock = std::chrono::steady_clock;
using std::chrono::duration;

namespace {

constexpr int kPort = 1;

double Seconds(Clock::duration d) { return duration<double>(d).count(); }

// ------------------------------------------------------------ line tally

// Bytes that crossed the line while the stopwatch ran, and their line time at
// the speed the port had when they crossed.
class LineTally {
public:
    void Count(int bytes, int baud) {
        if (!running_ || bytes <= 0 || baud <= 0) return;
        std::lock_guard lock(mutex_);
        bytes_ += bytes;
        lineSeconds_ += 10.0 * bytes / baud;
    }
    void Start() {
        {
            std::lock_guard lock(mutex_);
            startedAt_ = Clock::now();
        }
        running_ = true;
    }
    void Stop() {
        running_ = false;
        std::lock_guard lock(mutex_);
        elapsed_ += Clock::now() - startedAt_;
    }
    int64_t Bytes() const {
        std::lock_guard lock(mutex_);
        return bytes_;
    }
    double LineSeconds() const {
        std::lock_guard lock(mutex_);
        return lineSeconds_;
    }
    double MeasuredSeconds() const {
        std::lock_guard lock(mutex_);
        return Seconds(elapsed_);
    }

private:
    mutable std::mutex mutex_;
    std::atomic<bool> running_{false};
    Clock::time_point startedAt_{};
    Clock::duration elapsed_{};
    int64_t bytes_ = 0;
    double lineSeconds_ = 0;
};

// The POSIX device with every byte written and read counted into a tally.
class CountingDevice : public ISerialDevice {
public:
    explicit CountingDevice(LineTally& tally) : inner_(MakeSerialDevice()), tally_(tally) {}

    bool Open(const std::string& path) override { return inner_->Open(path); }
    void Close() override { inner_->Close(); }
    bool IsOpen() const override { return inner_->IsOpen(); }
    bool SetQueueSizes(uint32_t in, uint32_t out) override { return inner_->SetQueueSizes(in, out); }
    bool Purge(uint32_t flags) override { return inner_->Purge(flags); }
    bool SetLineState(const TLineSettings& settings, bool rtsCts) override {
        baud_ = settings.BaudRate;
        return inner_->SetLineState(settings, rtsCts);
    }
    bool SetTimeouts(const TCommTimeouts& t) override { return inner_->SetTimeouts(t); }
    TCommTimeouts Timeouts() const override { return inner_->Timeouts(); }
    bool QueryStatus(TCommStatus& status) override { return inner_->QueryStatus(status); }
    int Read(uint8_t* buffer, int count) override {
        int n = inner_->Read(buffer, count);
        tally_.Count(n, baud_);
        return n;
    }
    int WriteSome(const uint8_t* data, int count) override {
        int n = inner_->WriteSome(data, count);
        tally_.Count(n, baud_);
        return n;
    }
    bool WaitWritable(int ms) override { return inner_->WaitWritable(ms); }
    int OutputQueued() override { return inner_->OutputQueued(); }
    bool LineAction(TLineAction action) override { return inner_->LineAction(action); }
    bool ModemStatus(uint32_t& bits) override { return inner_->ModemStatus(bits); }
    int PollDescriptor() const override { return inner_->PollDescriptor(); }

private:
    std::unique_ptr<ISerialDevice> inner_;
    LineTally& tally_;
    std::atomic<int> baud_{0};
};

// ------------------------------------------------------------ programs

std::string g_devsim = TOLM_DEVSIM_PATH;
#ifdef TOLM_UPGRADE_CLI_PATH
std::string g_cli = TOLM_UPGRADE_CLI_PATH;
#else
std::string g_cli;
#endif

// --wine PREFIX: --cli is a Windows build, run under Wine with its COM port
// linked in the prefix (PREFIX/dosdevices/com31) and its files named by drive Z:.
std::string g_winePrefix;
constexpr int kWinePort = 31;
const std::string kWine = "/usr/bin/wine";

std::string WindowsName(const std::string& path) {
    std::string name = "Z:" + path;
    for (auto& c : name)
        if (c == '/') c = '\\';
    return name;
}

std::vector<char*> Argv(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return argv;
}

// Runs a program to its end with stdout (and, when quiet, stderr) discarded;
// its exit status, or -1.
// Runs a program to its end; its exit status, and in cpuSeconds the processor
// time it and its children took.
int RunToEnd(const std::string& program, const std::vector<std::string>& args, bool quiet = false,
             double* cpuSeconds = nullptr) {
    std::vector<char*> argv = Argv(program, args);
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        if (quiet) dup2(null, STDERR_FILENO);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    if (cpuSeconds)
        *cpuSeconds = usage.ru_utime.tv_sec + usage.ru_stime.tv_sec +
                      (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// The processor time so far of the Wine server of a prefix (its calls are
// the Windows program's work too), or -1 when none runs.
double WineServerCpuSeconds(const std::string& prefix) {
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        const std::string dir = entry.path().string();
        std::ifstream comm(dir + "/comm");
        std::string name;
        if (!std::getline(comm, name) || name.rfind("wineserver", 0) != 0) continue;
        std::ifstream environ(dir + "/environ", std::ios::binary);
        const std::string env((std::istreambuf_iterator<char>(environ)), {});
        if (env.find("WINEPREFIX=" + prefix + '\0') == std::string::npos) continue;
        std::ifstream statFile(dir + "/stat");
        std::string stat((std::istreambuf_iterator<char>(statFile)), {});
        std::istringstream fields(stat.substr(stat.rfind(')') + 2));
        std::string field;
        long long utime = 0, stime = 0;
        for (int i = 3; i <= 15 && fields >> field; ++i) {
            if (i == 14) utime = std::atoll(field.c_str());
            if (i == 15) stime = std::atoll(field.c_str());
        }
        return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    return -1;
}

int Generate(const std::vector<std::string>& args) { return RunToEnd(g_devsim, args); }

// A running `tolm-devsim run ... --baud-emulation`: ready once it has printed
// its PTY line; Stop() ends it and reads what it says crossed the line.
class Devsim {
public:
    explicit Devsim(const std::vector<std::string>& args) {
        int out[2];
        if (pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<char*> argv = Argv(g_devsim, args);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(out[1], STDOUT_FILENO);
            execv(g_devsim.c_str(), argv.data());
            _exit(127);
        }
        close(out[1]);
        out_ = out[0];
        ready_ = ReadLine().rfind("PTY ", 0) == 0;
    }
    ~Devsim() { Stop(); }
    bool Ready() const { return ready_; }

    // Ends the emulator; true when it reported its line figures.
    bool Stop() {
        if (pid_ <= 0) return false;
        kill(pid_, SIGTERM);
        std::string line = ReadLine();
        waitpid(pid_, nullptr, 0);
        pid_ = -1;
        close(out_);
        return std::sscanf(line.c_str(), "LINE %lld bytes %lf s", &bytes_, &lineSeconds_) == 2;
    }
    long long Bytes() const { return bytes_; }
    double LineSeconds() const { return lineSeconds_; }

private:
    std::string ReadLine() {
        std::string line;
        char c;
        while (read(out_, &c, 1) == 1 && c != '\n') line += c;
        return line;
    }

    pid_t pid_ = -1;
    int out_ = -1;
    bool ready_ = false;
    long long bytes_ = 0;
    double lineSeconds_ = 0;
};

// ------------------------------------------------------------ the families

struct RunResult {
    bool ok = false;
    std::string failure;
    int64_t bytes = 0;
    double lineSeconds = 0;
    double measuredSeconds = 0;
    double cpuSeconds = -1;     // the program's processor time (command-line runs)
    double serverSeconds = -1;  // the Wine server's meanwhile (under Wine)
};

struct Bench {
    std::string dir;
    long kvBody = 65536;
    std::string Path(const std::string& name) const { return dir + "/" + name; }
};

// Sets up a component whose port counts its bytes into the tally.
void Prepare(TTolmSerialComm& comm, LineTally& tally, TPollingMode mode) {
    comm.SetPollingMode(mode);
    comm.SetDeviceFactory([&tally](int) { return std::make_unique<CountingDevice>(tally); });
}

template <typename Fn>
int Retry(int times, Fn fn) {
    int r = fn();
    for (int i = 1; i < times && r != 0; ++i) r = fn();
    return r;
}

RunResult Finish(LineTally& tally, bool ok, const std::string& failure) {
    RunResult r;
    r.ok = ok;
    r.failure = failure;
    r.bytes = tally.Bytes();
    r.lineSeconds = tally.LineSeconds();
    r.measuredSeconds = tally.MeasuredSeconds();
    return r;
}

RunResult RunScanner(const Bench& b, TPollingMode mode) {
    const std::string fw = b.Path("scanner.bin");
    if (Generate({"gen", "scanner-fw", "--out", fw}) != 0) return {false, "cannot generate the file"};
    Devsim sim({"run", "scanner", "--link", b.Path("COM1"), "--baud-emulation", "--set", "baud=115200"});
    if (!sim.Ready()) return {false, "tolm-devsim did not start"};
    LineTally tally;
    TTolmSerialComm comm;
    Prepare(comm, tally, mode);
    if (comm.OpenComPort(kPort, "115200,n,8,1") != 0) return {false, "cannot open the port"};
    TScan_Packet scan;
    scan.PortNumber = kPort;
    scan.PortSettings = "115200,n,8,1";
    scan.ImageLength = scanimage::kImageLength;
    TProgressBar bar("PBar");
    TPanel panel("PBar_num");

    tally.Start();
    bool ok = false;
    std::string failure;
    if (scan.CheckConnection(&comm) != 0) {
        failure = "no connection";
    } else {
        scan.CheckUpgradeFileVer(fw);
        if (Retry(3, [&] { return scan.CheckUpgradeKernel10(&comm); }) != 0) {
            failure = "kernel check";
        } else {
            scan.LoadFileToMemory(fw);
            ok = scan.Send_70_StartPacket(&comm) && scan.Send_70_Packet(&comm, &bar, &panel) &&
                 scan.Send_70_EndPacket(&comm);
            if (!ok) failure = "transfer";
        }
    }
    tally.Stop();
    comm.CloseComPort(kPort);
    return Finish(tally, ok, failure);
}

RunResult RunTidScanner(const Bench& b, TPollingMode mode) {
    const std::string fw = b.Path("tid.bin");
    if (Generate({"gen", "tid-fw", "--out", fw, "--set", "images=1"}) != 0) return {false, "cannot generate the file"};
    Devsim sim({"run", "tid-scanner", "--link", b.Path("COM1"), "--baud-emulation", "--set", "baud=115200"});
    if (!sim.Ready()) return {false, "tolm-devsim did not start"};
    LineTally tally;
    TTolmSerialComm comm;
    Prepare(comm, tally, mode);
    if (comm.OpenComPort(kPort, "115200,n,8,1") != 0) return {false, "cannot open the port"};
    TScan_TID_Packet tid;
    tid.PortNumber = kPort;
    tid.PortSettings = "115200,n,8,1";
    tid.ImageLength = scanimage::kImageLength;
    TProgressBar bar("PBar");
    TPanel panel("PBar_num");

    tally.Start();
    bool ok = false;
    std::string failure;
    if (!tid.Send_90_InfoPacket(&comm) && !tid.Send_90_InfoPacket(&comm)) {
        failure = "no scanner query reply";
    } else {
        tid.CheckUpgradeFileVer(fw);
        if (Retry(3, [&] { return tid.CheckUpgradeKernel10(&comm); }) != 0) {
            failure = "kernel check";
        } else {
            tid.LoadFileToMemory70(fw);
            ok = tid.Send_70_StartPacket(&comm) && tid.Send_70_Packet(&comm, &bar, &panel) &&
                 tid.Send_70_EndPacket(&comm);
            if (!ok) failure = "transfer";
        }
    }
    tally.Stop();
    comm.CloseComPort(kPort);
    return Finish(tally, ok, failure);
}

RunResult RunQuorin(const Bench& b, TPollingMode mode) {
    const std::string fw = b.Path("quorin.bin");
    if (Generate({"gen", "quorin-firmware", "--out", fw}) != 0) return {false, "cannot generate the file"};
    Devsim sim({"run", "quorin", "--link", b.Path("COM1"), "--baud-emulation", "--set", "baud=115200", "--set",
                "announce-ms=100"});
    if (!sim.Ready()) return {false, "tolm-devsim did not start"};
    LineTally tally;
    TTolmSerialComm comm;
    Prepare(comm, tally, mode);
    if (comm.OpenComPort(kPort, "115200,n,8,1") != 0) return {false, "cannot open the port"};
    TQuorin_Packet q;
    q.PortNumber = kPort;
    q.PortSettings = "38400,n,8,1";

    // The terminal's announcement starts the upgrade.
    TByteBuffer announcement;
    for (int i = 0; i < 20 && announcement.IsEmpty(); ++i) {
        TByteBuffer bytes = comm.ReceiveByte(kPort, 1000);
        if (bytes.Length() >= 20 && bytes[frame::kCommandOffset] == frame::kAnnounce) announcement = bytes;
    }
    if (announcement.IsEmpty()) return {false, "no announcement"};

    tally.Start();
    q.SetTerminalID(announcement);
    q.SendACK(&comm);
    tally.Stop();
    // Answered by silence in normal mode: a fixed 1000 ms, left out.
    q.Send_07_Connect_Start(&comm);
    tally.Start();

    bool ok = false;
    std::string failure;
    q.FirmwareSize = TQuorin_Packet::GetFileSize(fw);
    if (q.CheckUpgradeFileVer(fw) != 0) {
        failure = "file check";
    } else if (Retry(2, [&] { return q.CheckUpgradeKernel(&comm); }) != 0) {
        failure = "kernel check";
    } else if (q.LoadFileToMemory(fw) != 0) {
        failure = "loading";
    } else {
        TProgressBar bar("PBar");
        TPanel panel("PBar_num");
        ok = q.Send_70_StartPacket(&comm) && q.Send_70_Packet(&comm, &bar, &panel);
        ok = q.Send_70_EndPacket(&comm) && ok;
        if (!ok) failure = "transfer";
    }
    tally.Stop();
    comm.CloseComPort(kPort);
    return Finish(tally, ok, failure);
}

RunResult RunKv(const Bench& b, TPollingMode mode) {
    const std::string fw = b.Path("kv.bin");
    if (Generate({"gen", "kv-firmware", "--out", fw, "--set", "body-size=" + std::to_string(b.kvBody)}) != 0)
        return {false, "cannot generate the file"};
    Devsim sim({"run", "kv", "--link", b.Path("COM1"), "--baud-emulation"});
    if (!sim.Ready()) return {false, "tolm-devsim did not start"};
    LineTally tally;
    TTolmSerialComm comm;
    Prepare(comm, tally, mode);
    TKV_Packet kv;
    kv.PortNumber = kPort;
    kv.PortSettings = "38400,n,8,1";
    // Done when the file is chosen, before the upgrade starts.
    kv.FirmwareSize = TKV_Packet::GetFileSize(fw);
    if (kv.CheckUpgradeFileVer(fw) != 0 || kv.LoadFileToMemory(fw) != 0) return {false, "file check"};

    if (comm.OpenComPort(kPort, "115200,n,8,1") != 0) return {false, "cannot open the port"};
    comm.ComSettings(kPort, "9600,n,8,1");
    tally.Start();
    kv.Send_UpgradeMode(&comm);
    tally.Stop();
    comm.CloseComPort(kPort);
    comm.OpenComPort(kPort, kv.PortSettings);
    Sleep(200);  // the upgrade driver's wait
    tally.Start();

    bool ok = false;
    std::string failure;
    if (!kv.Check_10_InfoPacket(&comm) && !kv.Check_10_InfoPacket(&comm)) {
        failure = "no identification";
    } else if (Retry(2, [&] { return kv.CheckUpgradeKernel(&comm); }) != 0) {
        failure = "kernel check";
    } else {
        TProgressBar bar("PBar");
        TPanel panel("PBar_num");
        ok = kv.Send_70_StartPacket(&comm) && kv.Send_70_Packet(&comm, &bar, &panel);
        ok = kv.Send_70_EndPacket(&comm) && ok;
        if (!ok) failure = "transfer";
    }
    tally.Stop();
    comm.CloseComPort(kPort);
    return Finish(tally, ok, failure);
}

// The whole upgrade by tolm-upgrade-cli against a freshly started emulator.
RunResult RunCli(const Bench& b, const std::string& file, const std::vector<std::string>& device, TPollingMode mode) {
    const bool wine = !g_winePrefix.empty();
    std::vector<std::string> args{"run"};
    args.insert(args.end(), device.begin(), device.end());
    const std::string link = wine ? g_winePrefix + "/dosdevices/com" + std::to_string(kWinePort) : b.Path("COM1");
    args.insert(args.end(), {"--link", link, "--baud-emulation"});
    Devsim sim(args);
    if (!sim.Ready()) return {false, "tolm-devsim did not start"};
    setenv("TOLM_SERIAL_POLLING", mode == TPollingMode::Sleep ? "sleep" : "events", 1);
    std::vector<std::string> cli{"upgrade", "--port", "1", "--log", b.Path("DUMMY.TXT"), "--wait", "10", file};
    if (wine) cli = {g_cli, "upgrade", "--port", std::to_string(kWinePort), "--log", WindowsName(b.Path("DUMMY.TXT")),
                     "--wait", "10", WindowsName(file)};
    const double serverBefore = wine ? WineServerCpuSeconds(g_winePrefix) : -1;
    double cpu = -1;
    auto start = Clock::now();
    int status = RunToEnd(wine ? kWine : g_cli, cli, true, &cpu);
    auto took = Clock::now() - start;
    const double serverAfter = wine ? WineServerCpuSeconds(g_winePrefix) : -1;
    unsetenv("TOLM_SERIAL_POLLING");
    RunResult r;
    if (!sim.Stop()) return {false, "tolm-devsim gave no line figures"};
    r.ok = status == 0;
    if (!r.ok) r.failure = "tolm-upgrade-cli exit status " + std::to_string(status);
    r.bytes = sim.Bytes();
    r.lineSeconds = sim.LineSeconds();
    r.measuredSeconds = Seconds(took);
    r.cpuSeconds = cpu;
    if (serverBefore >= 0 && serverAfter >= 0) r.serverSeconds = serverAfter - serverBefore;
    return r;
}

// ------------------------------------------------------------ wake-up delay

// One exchange after another against a peer on this process's own pty that
// answers each 5-byte request, 5 ms later, with 14 bytes written at once; the
// delay is from the end of that write until the exchange has returned.
double MedianWakeDelayMs(const Bench& b, TPollingMode mode, int expectedLength, int samples) {
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return -1;
    std::string slave = ptsname(master);
    int keep = open(slave.c_str(), O_RDWR | O_NOCTTY);
    termios tio{};
    tcgetattr(keep, &tio);
    cfmakeraw(&tio);
    tcsetattr(keep, TCSANOW, &tio);
    std::filesystem::remove(b.Path("COM1"));
    std::filesystem::create_symlink(slave, b.Path("COM1"));

    std::atomic<int64_t> repliedAt{0};
    std::atomic<bool> stop{false};
    std::thread peer([&] {
        const std::string reply("\x7e\x7e\x00\x06\x01\x02\x03\x04\x05\x06\x07\x08\x0e\x7e", 14);
        std::string pending;
        char buf[256];
        while (!stop) {
            pollfd pfd{master, POLLIN, 0};
            if (poll(&pfd, 1, 50) <= 0) continue;
            ssize_t n = read(master, buf, sizeof buf);
            if (n <= 0) continue;
            pending.append(buf, static_cast<size_t>(n));
            while (pending.size() >= 5) {
                pending.erase(0, 5);
                // A moment to answer, as a device takes: the reply comes after
                // the exchange has begun to wait for it.
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (write(master, reply.data(), reply.size()) != static_cast<ssize_t>(reply.size())) return;
                repliedAt = Clock::now().time_since_epoch().count();
            }
        }
    });

    std::vector<double> delays;
    {
        TTolmSerialComm comm;
        comm.SetPollingMode(mode);
        if (comm.OpenComPort(kPort, "115200,n,8,1") == 0) {
            const TByteBuffer request{0x7e, 0x7e, 0x10, 0x10, 0x7e};
            for (int i = 0; i < samples; ++i) {
                TByteBuffer reply = comm.SendByteReceiveByte(kPort, request, 1000, expectedLength);
                auto now = Clock::now().time_since_epoch().count();
                if (reply.Length() == 14) delays.push_back((now - repliedAt.load()) / 1e6);
                // Spread the exchanges over the phase of a 100 ms pass.
                Sleep(static_cast<int>((i * 37) % 100));
            }
            comm.CloseComPort(kPort);
        }
    }
    stop = true;
    peer.join();
    close(keep);
    close(master);
    std::filesystem::remove(b.Path("COM1"));
    if (delays.empty()) return -1;
    std::sort(delays.begin(), delays.end());
    return delays[delays.size() / 2];
}

// ------------------------------------------------------------ main

const char* ModeName(TPollingMode mode) { return mode == TPollingMode::Events ? "poll(2) waiting" : "100 ms sleep"; }

std::vector<std::string> Split(const std::string& text) {
    std::vector<std::string> parts;
    std::stringstream in(text);
    std::string part;
    while (std::getline(in, part, ','))
        if (!part.empty()) parts.push_back(part);
    return parts;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: tolm-bench-upgrade [--devsim PATH] [--cli PATH | --no-cli] [--wine PREFIX]\n"
                 "                          [--families scanner,tid,quorin,kv]\n"
                 "                          [--modes events,sleep] [--kv-body BYTES] [--wake-samples N]\n");
    return 2;
}

void PrintRow(const std::string& label, TPollingMode mode, const RunResult& r) {
    if (!r.ok) {
        std::printf("%-34s %-16s FAILED: %s\n", label.c_str(), ModeName(mode), r.failure.c_str());
    } else {
        std::printf("%-34s %-16s %9lld %9.2f %11.2f %7.3f", label.c_str(), ModeName(mode),
                    static_cast<long long>(r.bytes), r.lineSeconds, r.measuredSeconds,
                    r.measuredSeconds / r.lineSeconds);
        // Processor time: the program's, then the Wine server's, each as a share of a core.
        if (r.cpuSeconds >= 0) std::printf("  cpu %.2f s (%.1f %%)", r.cpuSeconds, 100 * r.cpuSeconds / r.measuredSeconds);
        if (r.serverSeconds >= 0)
            std::printf("  server %.2f s (%.1f %%)", r.serverSeconds, 100 * r.serverSeconds / r.measuredSeconds);
        std::printf("\n");
    }
    std::fflush(stdout);
}

void PrintHeader(const char* title) {
    std::printf("\n%s\n%-34s %-16s %9s %9s %11s %7s\n", title, "family (baud)", "waiting", "bytes", "line s",
                "measured s", "ratio");
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> families{"scanner", "tid", "quorin", "kv"};
    std::vector<std::string> modes{"events", "sleep"};
    int wakeSamples = 40;
    Bench bench;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--no-cli") {
            g_cli.clear();
            continue;
        }
        if (i + 1 >= argc) return Usage();
        std::string value = argv[++i];
        if (arg == "--devsim")
            g_devsim = value;
        else if (arg == "--cli")
            g_cli = value;
        else if (arg == "--wine")
            g_winePrefix = value;
        else if (arg == "--families")
            families = Split(value);
        else if (arg == "--modes")
            modes = Split(value);
        else if (arg == "--kv-body")
            bench.kvBody = std::strtol(value.c_str(), nullptr, 10);
        else if (arg == "--wake-samples")
            wakeSamples = std::max(1, std::atoi(value.c_str()));
        else
            return Usage();
    }

    MarkMainThread();
    char dirTemplate[] = "/tmp/tolm-bench-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        std::perror("tolm-bench-upgrade: temporary folder");
        return 1;
    }
    bench.dir = dirTemplate;
    setenv("TOLM_PORT_DIR", bench.dir.c_str(), 1);

    struct Family {
        const char* key;
        const char* name;
        RunResult (*run)(const Bench&, TPollingMode);
        const char* file;                 // as the in-process run generated it
        std::vector<std::string> device;  // tolm-devsim run arguments for the command-line run
    };
    const std::vector<Family> all = {
        {"scanner", "first-generation scanner (115200)", RunScanner, "scanner.bin", {"scanner"}},
        // The window waits for the TID scanner's announcement before its first request.
        {"tid", "TID scanner (115200)", RunTidScanner, "tid.bin", {"tid-scanner", "--set", "announce=1"}},
        {"quorin", "Quorin terminal (115200)", RunQuorin, "quorin.bin", {"quorin", "--set", "announce-ms=100"}},
        {"kv", "KV terminal (9600, 38400)", RunKv, "kv.bin", {"kv"}},
    };
    std::vector<std::pair<const Family*, TPollingMode>> runs;
    for (const Family& f : all) {
        if (std::find(families.begin(), families.end(), f.key) == families.end()) continue;
        for (const std::string& m : modes) runs.push_back({&f, m == "sleep" ? TPollingMode::Sleep : TPollingMode::Events});
    }

    int failures = 0;
    PrintHeader("Protocol sequence in this process (bytes counted at the port)");
    for (auto& [f, mode] : runs) {
        RunResult r = f->run(bench, mode);
        failures += r.ok ? 0 : 1;
        PrintRow(f->name, mode, r);
    }
    if (!g_cli.empty() && !g_winePrefix.empty()) {
        // What Wine adds to each run before the program's own work: its start.
        std::vector<double> starts;
        for (int i = 0; i < 3; ++i) {
            auto start = Clock::now();
            RunToEnd(kWine, {g_cli, "--version"}, true);
            starts.push_back(Seconds(Clock::now() - start));
        }
        std::sort(starts.begin(), starts.end());
        std::printf("\nUnder Wine (prefix %s): the program's start takes %.2f s (--version, median of 3)\n",
                    g_winePrefix.c_str(), starts[1]);
    }
    if (!g_cli.empty()) {
        PrintHeader("tolm-upgrade-cli upgrade, start to exit (bytes counted by the emulator)");
        for (auto& [f, mode] : runs) {
            RunResult r = RunCli(bench, bench.Path(f->file), f->device, mode);
            failures += r.ok ? 0 : 1;
            PrintRow(f->name, mode, r);
        }
    }

    std::printf("\nwake-up delay of one exchange (14-byte reply written at once, median of %d)\n", wakeSamples);
    struct WakeCase {
        const char* name;
        TPollingMode mode;
        int expected;
    };
    const WakeCase cases[] = {
        {"poll(2), reply length stated", TPollingMode::Events, 14},
        {"poll(2), length not stated", TPollingMode::Events, 0},
        {"100 ms sleep", TPollingMode::Sleep, 14},
    };
    for (const WakeCase& c : cases) {
        double ms = MedianWakeDelayMs(bench, c.mode, c.expected, wakeSamples);
        if (ms < 0) {
            ++failures;
            std::printf("  %-32s FAILED\n", c.name);
        } else {
            std::printf("  %-32s %8.2f ms\n", c.name, ms);
        }
        std::fflush(stdout);
    }
    std::filesystem::remove_all(bench.dir);
    return failures == 0 ? 0 : 1;
}
