#pragma once
// A serial device wrapper for a run that reports to a parent process: it
// counts the bytes sent, reads what the device tells about itself out of the
// replies (model code and kernel digits of an identification reply, terminal
// ID and name of an announcement), notices a line that hung up, and refuses to
// send once a stop was asked, so that a run ends after its current exchange.
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Serialdevice.h"

namespace tolm::cli {

// What a device told about itself; empty fields were not reported.
struct TDeviceIdentity {
    std::string ModelCode;     // identification block bytes 0-3 (scanners)
    std::string KernelDigits;  // scanners: block bytes 5, 9 and 13 as "7/3/1"; terminals: byte 9
    std::string TerminalID;    // 8 hex digits
    std::string TerminalName;  // from a Quorin announcement
    bool operator==(const TDeviceIdentity&) const = default;
    bool Empty() const { return *this == TDeviceIdentity{}; }
};

// Shared by every tapped device of one run. Thread-safe: the serial
// component reads on its own threads and writes on the caller's.
class TDeviceRecord {
public:
    // Called on the sending thread just before the first byte goes out, so
    // that no byte reaches a device before its run is known to be an attempt.
    // A handler that returns false keeps the byte back and asks the run to
    // stop (AskStop).
    void OnFirstSend(std::function<bool()> handler) { onFirstSend_ = std::move(handler); }
    // False when the send must not go out.
    bool Sending();
    void Sent(int bytes) { sent_ += bytes > 0 ? bytes : 0; }
    long long BytesSent() const { return sent_; }
    // A send was refused because a stop was asked.
    void Refused() { refused_ = true; }
    bool AnyRefused() const { return refused_; }
    // A request frame starts: the reply gathered since the previous one is complete.
    void RequestStarts(const uint8_t* data, int count);
    void Received(const uint8_t* data, int count);
    // Each device that spoke on the line, in the order they first did: one
    // per terminal ID (a scanner and its docking station are two).
    std::vector<TDeviceIdentity> Identities() const;
    // The first of them, or an empty identity.
    TDeviceIdentity Identity() const;
    // The line hung up under an open port (adapter unplugged, emulator gone).
    void LineLost() { lineLost_ = true; }
    bool TakeLineLost() { return lineLost_.exchange(false); }

private:
    void ExamineReply();  // with mutex_ held
    TDeviceIdentity& Station(const std::string& terminalId);  // with mutex_ held
    mutable std::mutex mutex_;
    std::vector<uint8_t> request_, reply_;
    std::vector<TDeviceIdentity> stations_;
    std::atomic<long long> sent_{0};
    std::atomic<bool> refused_{false}, lineLost_{false}, sending_{false};
    std::function<bool()> onFirstSend_;
};

// Asks every tapped device of the process to refuse further sends. Safe to
// call from a signal handler.
void AskStop();
bool StopAsked();

// Wraps inner; every call goes through, writes and reads are shown to record.
std::unique_ptr<ISerialDevice> TapDevice(std::unique_ptr<ISerialDevice> inner, std::shared_ptr<TDeviceRecord> record);

}  // namespace tolm::cli
