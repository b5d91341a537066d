#include "cli/Devicetap.h"

#include <cctype>
#include <cstdio>

namespace tolm::cli {

namespace {
constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kScannerType = 0x01;
constexpr uint8_t kCmdInfo = 0x10, kCmdDockInfo = 0x11, kCmdAnnounce = 0x64;
constexpr size_t kScannerInfoReply = 24, kAddressedInfoReply = 32;

std::atomic<bool> stopAsked{false};
static_assert(std::atomic<bool>::is_always_lock_free);

std::string Hex(const uint8_t* bytes, size_t count) {
    std::string text;
    char buf[3];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(buf, sizeof buf, "%02X", bytes[i]);
        text += buf;
    }
    return text;
}

// Printable characters only: names end up in result files and on terminals.
std::string Printable(const uint8_t* bytes, size_t count) {
    std::string text;
    for (size_t i = 0; i < count; ++i)
        if (bytes[i] != 0) text += std::isprint(bytes[i]) ? static_cast<char>(bytes[i]) : '?';
    return text;
}

std::string Digits(const uint8_t* block, bool scanner) {
    if (!scanner) return std::to_string(block[9]);
    return std::to_string(block[5]) + "/" + std::to_string(block[9]) + "/" + std::to_string(block[13]);
}

class TTappedDevice : public ISerialDevice {
public:
    TTappedDevice(std::unique_ptr<ISerialDevice> inner, std::shared_ptr<TDeviceRecord> record)
        : inner_(std::move(inner)), record_(std::move(record)) {}
    bool Open(const std::string& path) override { return inner_->Open(path); }
    int OpenError() const override { return inner_->OpenError(); }
    void Close() override { inner_->Close(); }
    bool IsOpen() const override { return inner_->IsOpen(); }
    bool SetQueueSizes(uint32_t in, uint32_t out) override { return inner_->SetQueueSizes(in, out); }
    bool Purge(uint32_t flags) override { return inner_->Purge(flags); }
    bool SetLineState(const TLineSettings& s, bool rtsCts) override { return inner_->SetLineState(s, rtsCts); }
    bool SetTimeouts(const TCommTimeouts& t) override { return inner_->SetTimeouts(t); }
    TCommTimeouts Timeouts() const override { return inner_->Timeouts(); }
    bool QueryStatus(TCommStatus& status) override {
        const bool ok = inner_->QueryStatus(status);
        if (!ok && inner_->IsOpen()) record_->LineLost();
        return ok;
    }
    int Read(uint8_t* buffer, int count) override {
        int n = inner_->Read(buffer, count);
        if (n > 0) record_->Received(buffer, n);
        if (n < 0 && inner_->IsOpen()) record_->LineLost();
        return n;
    }
    int WriteSome(const uint8_t* data, int count) override {
        if (count >= 2 && data[0] == kFlag && data[1] == kFlag) record_->RequestStarts(data, count);
        if (StopAsked() || !record_->Sending()) {
            record_->Refused();
            return -1;
        }
        int n = inner_->WriteSome(data, count);
        if (n > 0) record_->Sent(n);
        return n;
    }
    bool WaitWritable(int ms) override { return inner_->WaitWritable(ms); }
    int OutputQueued() override { return inner_->OutputQueued(); }
    bool LineAction(TLineAction action) override { return inner_->LineAction(action); }
    bool ModemStatus(uint32_t& bits) override { return inner_->ModemStatus(bits); }
    int PollDescriptor() const override { return inner_->PollDescriptor(); }

private:
    std::unique_ptr<ISerialDevice> inner_;
    std::shared_ptr<TDeviceRecord> record_;
};
}  // namespace

bool TDeviceRecord::Sending() {
    if (!sending_.exchange(true) && onFirstSend_ && !onFirstSend_()) AskStop();
    return !StopAsked();
}

void TDeviceRecord::RequestStarts(const uint8_t* data, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    ExamineReply();
    request_.assign(data, data + count);
    reply_.clear();
}

void TDeviceRecord::Received(const uint8_t* data, int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    reply_.insert(reply_.end(), data, data + count);
    ExamineReply();
}

TDeviceIdentity& TDeviceRecord::Station(const std::string& terminalId) {
    for (auto& station : stations_)
        if (station.TerminalID == terminalId) return station;
    stations_.push_back({});
    stations_.back().TerminalID = terminalId;
    return stations_.back();
}

void TDeviceRecord::ExamineReply() {
    const auto& q = request_;
    const auto& r = reply_;
    // Addressed requests (sender 00 00 00 00) carry the terminal's ID as their
    // receiver, frame bytes 7-10; the queries that learn it carry zeros there.
    const bool addressed = q.size() >= 14 && q[3] == 0 && q[4] == 0 && q[5] == 0 && q[6] == 0;
    const bool toTerminal = addressed && (q[7] | q[8] | q[9] | q[10]) != 0;
    const std::string receiver = toTerminal ? Hex(&q[7], 4) : std::string();
    if (toTerminal) Station(receiver);
    const bool scannerInfo = q.size() == 6 && q[2] == kScannerType && q[3] == kCmdInfo;
    const bool addressedInfo = toTerminal && (q[11] == kCmdInfo || q[11] == kCmdDockInfo);
    if (scannerInfo && r.size() == kScannerInfoReply) {
        // A first-generation scanner has no terminal ID.
        TDeviceIdentity& station = Station("");
        station.ModelCode = Printable(&r[6], 4);
        station.KernelDigits = Digits(&r[6], true);
    } else if (addressedInfo && r.size() == kAddressedInfoReply) {
        TDeviceIdentity& station = Station(receiver);
        const bool scanner = q[2] == kScannerType;
        if (scanner) station.ModelCode = Printable(&r[14], 4);
        station.KernelDigits = Digits(&r[14], scanner);
    }
    // An announcement (or a query's reply, which has its shape) may arrive
    // unasked, before any request; it names its sender.
    for (size_t i = 0; i + 20 <= r.size(); ++i) {
        if (r[i] == kFlag && r[i + 1] == kFlag && r[i + 11] == kCmdAnnounce)
            Station(Hex(&r[i + 3], 4)).TerminalName = Printable(&r[i + 14], 6);
    }
}

std::vector<TDeviceIdentity> TDeviceRecord::Identities() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stations_;
}

TDeviceIdentity TDeviceRecord::Identity() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return stations_.empty() ? TDeviceIdentity{} : stations_.front();
}

void AskStop() { stopAsked = true; }
bool StopAsked() { return stopAsked; }

std::unique_ptr<ISerialDevice> TapDevice(std::unique_ptr<ISerialDevice> inner, std::shared_ptr<TDeviceRecord> record) {
    return std::make_unique<TTappedDevice>(std::move(inner), std::move(record));
}

}  // namespace tolm::cli
