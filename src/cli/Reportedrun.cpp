#include "cli/Reportedrun.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <thread>

#include "app/Unit1.h"
#include "platform/Portmap.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/MainThread.h"

namespace tolm::cli {

namespace {
constexpr auto kProgressEvery = std::chrono::milliseconds(100);
constexpr auto kProbeEvery = std::chrono::milliseconds(500);
constexpr auto kGoneAfterSilence = std::chrono::seconds(3);

void OnStopSignal(int) { AskStop(); }

std::string Clean(std::string text) {
    for (auto& c : text)
        if (c == '\n' || c == '\r' || c == '\t') c = ' ';
    return text;
}

// Sleeps about d, answering the event loop, unless a stop was asked.
bool Pause(std::chrono::milliseconds d) {
    const auto until = std::chrono::steady_clock::now() + d;
    while (std::chrono::steady_clock::now() < until) {
        if (StopAsked()) return false;
        ProcessMessages();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return !StopAsked();
}

bool NodeExists(int port) {
    std::error_code ec;
    return std::filesystem::exists(PortMap::DevicePath(port), ec);
}
}  // namespace

TReportedRun::TReportedRun(int fd, TForm1& form) : fd_(fd), form_(form) {
    struct sigaction sa {};
    sa.sa_handler = OnStopSignal;
    sigaction(SIGTERM, &sa, nullptr);
    signal(SIGINT, SIG_IGN);
    signal(SIGPIPE, SIG_IGN);
    auto record = record_;
    form_.TolmSerialComm1.SetDeviceFactory(
        [record](int) { return TapDevice(MakeSerialDevice(), record); });
    form_.PBar.AddObserver([this](TControl&, TChange change) {
        if (change == TChange::Position || change == TChange::Range) Progress();
    });
}

TReportedRun::~TReportedRun() { close(fd_); }

void TReportedRun::Send(const std::string& key, const std::string& value) {
    const std::string line = key + "\t" + Clean(value) + "\n";
    size_t done = 0;
    while (done < line.size()) {
        ssize_t n = write(fd_, line.data() + done, line.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;  // the parent has gone; the run goes on regardless
        done += static_cast<size_t>(n);
    }
}

void TReportedRun::State(const std::string& state) {
    if (state == "upgrading") {
        if (upgrading_) return;
        upgrading_ = true;
        start_ = std::chrono::steady_clock::now();
    }
    Send("state", state);
}

void TReportedRun::Family() {
    Send("family", form_.FamilyCode.empty() ? std::to_string(form_.FirmwareFamily) : form_.FamilyCode);
}

void TReportedRun::SendIdentity() {
    const TDeviceIdentity id = record_->Identity();
    if (id == sentIdentity_) return;
    if (id.ModelCode != sentIdentity_.ModelCode) Send("model", id.ModelCode);
    if (id.KernelDigits != sentIdentity_.KernelDigits) Send("kernel", id.KernelDigits);
    if (id.TerminalID != sentIdentity_.TerminalID) Send("tid", id.TerminalID);
    if (id.TerminalName != sentIdentity_.TerminalName) Send("name", id.TerminalName);
    sentIdentity_ = id;
}

void TReportedRun::Progress() {
    const int min = form_.PBar.Min(), max = form_.PBar.Max(), pos = form_.PBar.Position();
    if (max <= min) return;
    // A Quorin transfer starts with the announcement, which sets the range.
    State("upgrading");
    const auto now = std::chrono::steady_clock::now();
    if (pos != max && now - lastProgress_ < kProgressEvery) return;
    lastProgress_ = now;
    SendIdentity();
    Send("progress", std::to_string(pos) + " " + std::to_string(min) + " " + std::to_string(max) + " " +
                         std::to_string(record_->BytesSent()));
}

void TReportedRun::Finish(const std::string& result, const std::string& note) {
    SendIdentity();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    Send("bytes", std::to_string(record_->BytesSent()));
    Send("seconds", std::to_string(seconds));
    if (!note.empty()) Send("note", note);
    Send("result", result);
    Send("end", "");
}

bool TReportedRun::Answers(int port) {
    if (!NodeExists(port)) return false;
    TTolmSerialComm comm;
    const bool kv = form_.FirmwareFamily == 4;
    if (comm.OpenComPort(port, kv ? "9600,n,8,1" : "115200,n,8,1") != 0) return false;
    bool answered = false;
    if (form_.FirmwareFamily == 2 && (form_.FamilyCode == "2LB" || form_.FamilyCode == "2ND")) {
        TScan_Packet scanner;
        scanner.PortNumber = port;
        answered = scanner.CheckConnection(&comm) == 0;
    } else if (form_.FirmwareFamily == 2) {
        TScan_TID_Packet scanner;
        scanner.PortNumber = port;
        answered = scanner.Send_90_InfoPacket(&comm);
    } else if (form_.FirmwareFamily == 3) {
        // Only after an announcement is the terminal's address known.
        TQuorin_Packet terminal;
        terminal.PortNumber = port;
        terminal.TerminalID = form_.QuorinPacket->TerminalID;
        answered = terminal.HasTerminalID() && terminal.Send_10_InfoPacket(&comm).Length() == 16;
    } else if (kv) {
        // As the upgrade itself asks: the upgrade-mode switch, then the information request.
        TKV_Packet terminal;
        terminal.PortNumber = port;
        terminal.Send_UpgradeMode(&comm);
        comm.CloseComPort(port);
        if (comm.OpenComPort(port, "38400,n,8,1") == 0) {
            TKV_Packet::Wait(200);
            answered = terminal.Check_10_InfoPacket(&comm);
        }
    }
    comm.CloseComPort(port);
    return answered;
}

bool TReportedRun::WaitForArrival(int port) {
    State("waiting");
    while (!StopAsked()) {
        // A Quorin terminal arrives by announcing itself, which the upgrade awaits.
        if (form_.FirmwareFamily == 3 ? NodeExists(port) : Answers(port)) return true;
        if (!Pause(kProbeEvery)) break;
    }
    return false;
}

bool TReportedRun::WaitForRemoval(int port) {
    State("removal");
    auto lastAnswer = std::chrono::steady_clock::now();
    while (!StopAsked()) {
        if (!NodeExists(port)) return true;
        if (Answers(port)) lastAnswer = std::chrono::steady_clock::now();
        else if (std::chrono::steady_clock::now() - lastAnswer >= kGoneAfterSilence) return true;
        if (!Pause(kProbeEvery)) break;
    }
    return false;
}

}  // namespace tolm::cli
