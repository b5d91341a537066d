#pragma once
// Emulated scanners and docking stations.
//
//   scanner      first-generation scanner: short header, 6-byte acknowledgement,
//                identification 01 10, transfer 0x70
//   tid-scanner  second-generation scanner: addressed header, optional 0x6E
//                announcement, query 0x90, identification 0x10, transfer 0x70
//   tid-dock     its docking station alone: query 0x95, identification 0x11,
//                transfer 0x75 with the 15-byte start and end acknowledgements
//   tid-pair     a scanner sitting in its docking station: both on one line
//
// The second-generation stations ignore an addressed frame whose sender is not
// the host's 00 00 00 00. Every answer passes a ReplyPolicy first, where fault
// options plug in.
#include <chrono>
#include <memory>
#include <optional>
#include <string>

#include "Device.h"

namespace tolm::devsim {

// The request a device is about to answer, as a fault policy sees it.
struct ScannerRequest {
    uint8_t command = 0;
    int phase = -1;    // transfer requests: 0 start, 1 block, 2 end; otherwise -1
    int block = -1;    // block requests: the block number
    int attempt = 1;   // 2, 3, ... when the same request came again right after itself
};

// Decides whether the device answers. The default answers everything.
class ReplyPolicy {
public:
    virtual ~ReplyPolicy() = default;
    virtual bool ShouldAnswer(const ScannerRequest&) { return true; }
};

// The 16-byte identification block: model code at 0-3, digit values at 5, 9
// (kernel level) and 13; or the whole block given as hex.
struct Identity {
    std::string model;
    int digit6 = 7;
    int kernel = 1;
    int digit14 = 0;
    TByteBuffer rawBlock;  // when 16 bytes, sent instead of the fields

    TByteBuffer Block() const;
    // Keys: <prefix>model, <prefix>digit6, <prefix>kernel, <prefix>digit14,
    // <prefix>info-block (32 hex digits). Missing keys keep `defaults`.
    static std::optional<Identity> FromOptions(const Options& options, const std::string& prefix,
                                               const Identity& defaults, std::string& error);
};

// The 256 KB flash of one device; blocks never written stay 0xFF.
class Flash {
public:
    static constexpr int kBlockSize = 1024;
    static constexpr int kBlocks = 256;
    Flash() : bytes_(kBlockSize * kBlocks, 0xFF) {}
    void Erase() { bytes_ = TByteBuffer(kBlockSize * kBlocks, 0xFF); }
    void WriteBlock(int block, const TByteBuffer& data, int offset);
    const TByteBuffer& Bytes() const { return bytes_; }

private:
    TByteBuffer bytes_;
};

// What both generations share: the reply policy with attempt counting, the
// frame check, and the flag that tells the server a transfer ended.
class ScannerDeviceBase : public Device {
public:
    void SetReplyPolicy(std::unique_ptr<ReplyPolicy> policy) { policy_ = std::move(policy); }
    bool TakeImageComplete() override;
    bool TakeTransferStart() override;

protected:
    ScannerDeviceBase() : policy_(std::make_unique<ReplyPolicy>()) {}
    // Counts repeats of the same request and asks the policy.
    bool ShouldAnswer(const TByteBuffer& request, ScannerRequest info);
    // Intact frame: two start flags, the end flag and a matching check byte.
    static bool FrameIntact(const TByteBuffer& request);
    void MarkImageComplete() { imageComplete_ = true; }
    // A start request; the host sending it again after a lost answer starts nothing new.
    void MarkTransferStart(const TByteBuffer& request) { transferStart_ = transferStart_ || request != lastRequest_; }

private:
    std::unique_ptr<ReplyPolicy> policy_;
    TByteBuffer lastRequest_;
    int attempt_ = 0;
    bool imageComplete_ = false;
    bool transferStart_ = false;
};

// "scanner": the first-generation scanner.
class FirstGenScanner : public ScannerDeviceBase {
public:
    explicit FirstGenScanner(Identity identity) : identity_(std::move(identity)) {}
    static std::unique_ptr<Device> Create(const Options& options);

    int RequestLength(const TByteBuffer& pending) override;
    void OnRequest(const TByteBuffer& request, Line& line) override;
    TByteBuffer Image() const override { return flash_.Bytes(); }
    uint32_t AnnouncedLength() const { return announcedLength_; }

private:
    static TByteBuffer Reply(uint8_t command, const TByteBuffer& data = {});
    void OnTransfer(const TByteBuffer& request, Line& line);

    Identity identity_;
    Flash flash_;
    bool started_ = false;
    uint32_t announcedLength_ = 0;
};

// "tid-scanner", "tid-dock", "tid-pair": second-generation stations.
class TidDevice : public ScannerDeviceBase {
public:
    struct Station {
        bool present = false;
        TByteBuffer id;     // 4 bytes
        std::string name;   // 6 characters in the query reply
        Identity identity;
        Flash flash;
    };
    struct Settings {
        Station scanner, dock;
        bool announce = false;      // send 0x6E until the host's first request
        int announceIntervalMs = 250;
        bool longDockAcks = true;   // 15-byte answers to the 0x75 start and end
    };
    explicit TidDevice(Settings settings);
    // role: "scanner", "dock" or "pair"; --set role=... overrides it.
    static std::unique_ptr<Device> Create(const Options& options, const std::string& role);

    int RequestLength(const TByteBuffer& pending) override;
    void OnRequest(const TByteBuffer& request, Line& line) override;
    void OnIdle(Line& line) override;
    // The scanner's flash, the docking station's, or both one after the other.
    TByteBuffer Image() const override;
    const Settings& State() const { return s_; }

private:
    // The frame a station sends: 01, its ID, 00 00 00 00, command, data.
    static TByteBuffer From(const Station& station, uint8_t command, const TByteBuffer& data = {});
    Station* Addressed(const TByteBuffer& request);
    void Answer(const TByteBuffer& request, const ScannerRequest& info, Line& line, const TByteBuffer& reply);
    void OnTransfer(Station& station, const TByteBuffer& request, Line& line);

    Settings s_;
    bool hostSpoke_ = false;
    bool started_[2] = {false, false};
    std::chrono::steady_clock::time_point lastAnnouncement_{};
};

}  // namespace tolm::devsim
