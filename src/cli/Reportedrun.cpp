#include "cli/Reportedrun.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "app/Unit1.h"
#include "cli/Removal.h"
#include "platform/Portaccess.h"
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
constexpr int32_t kTwoImageLength = 526336;
// How long a station run waits for its station's word before the first byte:
// the station writes the attempt to its disk first.
constexpr auto kVerdictWait = std::chrono::seconds(15);

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

// Through the lookup, so that an adapter back under another tty name is seen
// by the number it was given.
bool NodeExists(int port) { return PortMap::PortPresent(port); }

// The 4 bytes of a terminal ID written as 8 hex digits; false for any other text.
bool TerminalIdBytes(const std::string& hex, TByteBuffer& id) {
    if (hex.size() != 8 || hex.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
    id = TByteBuffer(4, 0);
    for (int i = 0; i < 4; ++i) id[i] = static_cast<uint8_t>(std::stoul(hex.substr(2 * i, 2), nullptr, 16));
    return true;
}

// Why a port that exists cannot be opened, for the operator; empty for an
// open that failed only because the node went away meanwhile.
std::string OpenFailure(int port, int error) {
    switch (error) {
        case 0:
        case ENOENT:
            return {};
        case EACCES:
        case EPERM: {
            const std::string hint = PortAccessHint(PortMap::DevicePath(port), error);
            return hint.empty() ? "no permission" : hint;
        }
        case EBUSY:
            return "in use by another program";
        case ENOTTY:
            return "not a serial line";
        case EIO:
        case ENXIO:
        case ENODEV:
            return "no device behind the node (a port that is not there)";
        default:
            return std::strerror(error);
    }
}
}  // namespace

TReportedRun::TReportedRun(int fd, TForm1& form) : fd_(fd), form_(form) {
    auto record = record_;
    // The first byte the upgrade sends makes this run an attempt the parent records.
    record_->OnFirstSend([this] { return MaySendFirstByte(); });
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
    std::vector<TDeviceIdentity> ids = record_->Identities();
    // What the device told when it arrived fills in what the upgrade did not ask.
    if (ids.empty()) ids = arrival_;
    if (!ids.empty() && !arrival_.empty() && ids[0].TerminalID == arrival_[0].TerminalID) {
        if (ids[0].ModelCode.empty()) ids[0].ModelCode = arrival_[0].ModelCode;
        if (ids[0].KernelDigits.empty()) ids[0].KernelDigits = arrival_[0].KernelDigits;
        if (ids[0].TerminalName.empty()) ids[0].TerminalName = arrival_[0].TerminalName;
    }
    ids.resize(2);
    for (size_t i = 0; i < 2; ++i) {
        const std::string prefix = i == 0 ? "" : "dock-";
        const TDeviceIdentity& id = ids[i];
        TDeviceIdentity& sent = sentIdentity_[i];
        if (id.ModelCode != sent.ModelCode) Send(prefix + "model", id.ModelCode);
        if (id.KernelDigits != sent.KernelDigits) Send(prefix + "kernel", id.KernelDigits);
        if (id.TerminalID != sent.TerminalID) Send(prefix + "tid", id.TerminalID);
        if (id.TerminalName != sent.TerminalName) Send(prefix + "name", id.TerminalName);
        sent = id;
    }
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

bool TReportedRun::MaySendFirstByte() {
    if (!askParent_) {
        Send("attempt", "");
        return true;
    }
    // The station judges by the device (its ID) and records the attempt.
    SendIdentity();
    Send("attempt", "");
    const auto verdict = control_.AwaitVerdict(kVerdictWait);
    if (verdict && *verdict == kGoVerdict) return true;
    const std::string refused = kRefusedVerdict;
    // No word at all: the station has gone, and nothing is sent that it would not record.
    if (verdict && verdict->rfind(refused, 0) == 0) refusal_ = verdict->substr(refused.size());
    return false;
}

bool TReportedRun::StoppedMidway() const { return record_->AnyRefused(); }

void TReportedRun::AfterDevice(std::vector<TDeviceIdentity> previous, std::chrono::seconds silence) {
    previous_ = std::move(previous);
    silence_ = silence;
}

bool TReportedRun::TakeNodeChange() { return control_.TakeNodeChange(); }

TReportedRun::TProbe TReportedRun::Probe(int port, bool openOnly) {
    TProbe probe;
    auto record = std::make_shared<TDeviceRecord>();
    TTolmSerialComm comm;
    comm.SetDeviceFactory([record](int) { return TapDevice(MakeSerialDevice(), record); });
    const TFamily family = form_.Family();
    const bool kv = form_.Family() == TFamily::KV;
    if (comm.OpenComPort(port, kv ? "9600,n,8,1" : "115200,n,8,1") != 0) {
        probe.OpenError = comm.LastOpenError();
        return probe;
    }
    probe.Opened = true;
    if (openOnly) {
        comm.CloseComPort(port);
        return probe;
    }
    switch (family) {
    case TFamily::FirstGenScanner: {
        TScan_Packet scanner;
        scanner.PortNumber = port;
        probe.Answered = scanner.CheckConnection(&comm) == 0;
        break;
    }
    case TFamily::TidScanner: {
        // As the upgrade asks: the scanner, and for a one-image file also a
        // docking station alone.
        TScan_TID_Packet scanner;
        scanner.PortNumber = port;
        probe.Answered = scanner.Send_90_InfoPacket(&comm);
        if (!probe.Answered && form_.ScanPacket->ImageLength != kTwoImageLength)
            probe.Answered = scanner.Send_95_InfoPacket(&comm);
        break;
    }
    case TFamily::Quorin: {
        // A terminal upgraded here is asked by its ID; another one announces itself.
        TQuorin_Packet terminal;
        terminal.PortNumber = port;
        bool replied = false;
        TByteBuffer id;
        if (!previous_.empty() && TerminalIdBytes(previous_[0].TerminalID, id)) {
            terminal.TerminalID = id;
            replied = terminal.Send_10_InfoPacket(&comm).Length() == 16;
        } else {
            Pause(std::chrono::milliseconds(1000));
        }
        bool announced = false;
        for (const auto& who : record->Identities()) announced = announced || !who.TerminalName.empty();
        probe.Answered = replied || announced;
        break;
    }
    case TFamily::KV: {
        // As the upgrade itself asks: the upgrade-mode switch, then the information request.
        TKV_Packet terminal;
        terminal.PortNumber = port;
        terminal.Send_UpgradeMode(&comm);
        comm.CloseComPort(port);
        if (comm.OpenComPort(port, "38400,n,8,1") == 0) {
            TKV_Packet::Wait(200);
            probe.Answered = terminal.Check_10_InfoPacket(&comm);
        }
        break;
    }
    case TFamily::None:
        break;
    }
    comm.CloseComPort(port);
    probe.Who = record->Identities();
    return probe;
}

void TReportedRun::ReportCondition(int port, const TProbe& probe) {
    const std::string condition = probe.Opened ? std::string() : OpenFailure(port, probe.OpenError);
    if (condition == condition_) return;
    condition_ = condition;
    Send("port", condition);
}

bool TReportedRun::AwaitDevice(int port) {
    arrival_.clear();
    if (!previous_.empty()) {
        if (!WaitForRemoval(port)) return false;
        previous_.clear();
    }
    // When another device answered during the removal wait, it is here already.
    if (arrival_.empty() && !WaitForArrival(port)) return false;
    SendIdentity();
    return true;
}

bool TReportedRun::WaitForRemoval(int port) {
    State("removal");
    TRemovalRule rule(previous_, silence_, std::chrono::steady_clock::now());
    while (!StopAsked()) {
        if (TakeNodeChange() || !NodeExists(port)) rule.NodeChanged();
        if (!rule.Gone()) {
            const TProbe probe = Probe(port, false);
            ReportCondition(port, probe);
            const auto now = std::chrono::steady_clock::now();
            if (probe.Answered) rule.Answered(probe.Who, now);
            else if (probe.Opened) rule.Silent(now);
            if (rule.AnotherDeviceAnswered()) arrival_ = probe.Who;
            if (TakeNodeChange()) rule.NodeChanged();
        }
        const int left = rule.Gone() ? -1 : rule.SilenceLeft(std::chrono::steady_clock::now());
        if (left != silenceShown_) {
            silenceShown_ = left;
            Send("silence", left < 0 ? "" : std::to_string(left));
        }
        if (rule.Gone()) return true;
        if (!Pause(kProbeEvery)) break;
    }
    return false;
}

bool TReportedRun::WaitForArrival(int port) {
    State("waiting");
    while (!StopAsked()) {
        TakeNodeChange();  // a node that changes is what arrival waits for
        if (NodeExists(port)) {
            // A Quorin terminal arrives by announcing itself, which the upgrade awaits.
            const bool announces = form_.Family() == TFamily::Quorin;
            const TProbe probe = Probe(port, announces);
            ReportCondition(port, probe);
            if (announces ? probe.Opened : probe.Answered) {
                arrival_ = probe.Who;
                return true;
            }
        }
        if (!Pause(kProbeEvery)) break;
    }
    return false;
}

TReportedRun::TAnnounced TReportedRun::AwaitAnnouncedTransfer() {
    record_->TakeLineLost();
    TakeNodeChange();
    while (form_.Error.Caption().empty()) {
        if (StopAsked()) return TAnnounced::Stopped;
        if (record_->TakeLineLost() || TakeNodeChange())
            return record_->BytesSent() == 0 ? TAnnounced::Reopen : TAnnounced::LineLost;
        Pause(std::chrono::milliseconds(50));
    }
    return TAnnounced::TransferEnded;
}

}  // namespace tolm::cli
