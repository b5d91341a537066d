// The parts both scanner generations share, and the first-generation scanner.
#include "Scannerdevice.h"

#include <cstdio>

#include "Firmwarefile.h"
#include "protocol/Frame.h"

namespace tolm::devsim {

namespace {
constexpr uint8_t kType = 0x01;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kInfo = 0x10;
constexpr uint8_t kQuit = 0x30;
constexpr uint8_t kTransfer = 0x70;
constexpr int kDataLength = 1024;
}  // namespace

TByteBuffer Identity::Block() const {
    if (rawBlock.Length() == 16) return rawBlock;
    TByteBuffer block(16, 0x00);
    for (int i = 0; i < 4 && i < static_cast<int>(model.size()); ++i) block[i] = static_cast<uint8_t>(model[i]);
    block[5] = static_cast<uint8_t>(digit6);
    block[9] = static_cast<uint8_t>(kernel);
    block[13] = static_cast<uint8_t>(digit14);
    return block;
}

std::optional<Identity> Identity::FromOptions(const Options& options, const std::string& prefix,
                                              const Identity& defaults, std::string& error) {
    Identity id = defaults;
    id.model = options.Get(prefix + "model", defaults.model);
    if (id.model.size() != 4) {
        error = prefix + "model must have 4 characters";
        return std::nullopt;
    }
    id.digit6 = static_cast<int>(options.GetInt(prefix + "digit6", defaults.digit6));
    id.kernel = static_cast<int>(options.GetInt(prefix + "kernel", defaults.kernel));
    id.digit14 = static_cast<int>(options.GetInt(prefix + "digit14", defaults.digit14));
    if (options.Has(prefix + "info-block") &&
        !firmware::ParseHexBytes(options.Get(prefix + "info-block"), 16, id.rawBlock)) {
        error = prefix + "info-block must be 32 hex digits";
        return std::nullopt;
    }
    return id;
}

void Flash::WriteBlock(int block, const TByteBuffer& data, int offset) {
    for (int i = 0; i < kBlockSize; ++i) bytes_[block * kBlockSize + i] = data[offset + i];
}

bool ScannerDeviceBase::TakeImageComplete() {
    bool complete = imageComplete_;
    imageComplete_ = false;
    return complete;
}

bool ScannerDeviceBase::TakeTransferStart() {
    bool start = transferStart_;
    transferStart_ = false;
    return start;
}

bool ScannerDeviceBase::ShouldAnswer(const TByteBuffer& request, ScannerRequest info) {
    attempt_ = (request == lastRequest_) ? attempt_ + 1 : 1;
    lastRequest_ = request;
    info.attempt = attempt_;
    return policy_->ShouldAnswer(info);
}

bool ScannerDeviceBase::FrameIntact(const TByteBuffer& request) {
    const int n = request.Length();
    if (n < 4 || request[0] != frame::kFlag || request[1] != frame::kFlag || request[n - 1] != frame::kFlag)
        return false;
    return frame::CheckByte(request.data() + 2, n - 4) == request[n - 2];
}

std::unique_ptr<Device> FirstGenScanner::Create(const Options& options) {
    Identity defaults;
    defaults.model = "LB1Y";
    std::string error;
    auto identity = Identity::FromOptions(options, "", defaults, error);
    if (!identity) {
        std::fprintf(stderr, "tolm-devsim: %s\n", error.c_str());
        return nullptr;
    }
    return std::make_unique<FirstGenScanner>(*identity);
}

int FirstGenScanner::RequestLength(const TByteBuffer& pending) {
    // 7E 7E 01 command [phase] ...; anything else starts no request.
    const uint8_t expected[3] = {frame::kFlag, frame::kFlag, kType};
    for (int i = 0; i < 3; ++i) {
        if (pending.Length() <= i) return 0;
        if (pending[i] != expected[i]) return -1;
    }
    if (pending.Length() < 4) return 0;
    switch (pending[3]) {
        case kAck:
        case kInfo:
        case kQuit:
            return 6;
        case kTransfer:
            if (pending.Length() < 5) return 0;
            switch (pending[4]) {
                case 0: return 11;
                case 1: return 11 + kDataLength;
                case 2: return 7;
                default: return -1;
            }
        default:
            return -1;
    }
}

TByteBuffer FirstGenScanner::Reply(uint8_t command, const TByteBuffer& data) {
    TByteBuffer payload{kType, command};
    payload.Append(data);
    return frame::Wrap(payload);
}

void FirstGenScanner::OnRequest(const TByteBuffer& request, Line& line) {
    if (!FrameIntact(request)) return;  // a damaged frame gets no answer
    ScannerRequest info;
    info.command = request[3];
    switch (info.command) {
        case kInfo: {
            TByteBuffer data{0x00, 0x10};
            data.Append(identity_.Block());
            if (ShouldAnswer(request, info)) line.Write(Reply(kInfo, data));
            break;
        }
        case kQuit:
            if (ShouldAnswer(request, info)) line.Write(Reply(kAck));
            break;
        case kTransfer:
            OnTransfer(request, line);
            break;
        default:  // the host's own acknowledgement needs no answer
            break;
    }
}

void FirstGenScanner::OnTransfer(const TByteBuffer& request, Line& line) {
    ScannerRequest info;
    info.command = kTransfer;
    info.phase = request[4];
    switch (info.phase) {
        case 0:
            MarkTransferStart(request);
            flash_.Erase();
            started_ = true;
            announcedLength_ = frame::ReadBigEndian32(request, 5);
            break;
        case 1:
            info.block = frame::ReadBigEndian16(request, 5);
            // A block outside the flash, of another length, or before a start is refused.
            if (!started_ || info.block >= Flash::kBlocks || frame::ReadBigEndian16(request, 7) != kDataLength)
                return;
            flash_.WriteBlock(info.block, request, 9);
            break;
        case 2:
            if (started_) MarkImageComplete();
            started_ = false;
            break;
    }
    if (ShouldAnswer(request, info)) line.Write(Reply(kAck));
}

namespace {
Registration scannerReg("scanner",
                        "first-generation scanner (0x70 transfer, 6-byte acks); --set model=LB1Y digit6=7 "
                        "kernel=1 digit14=0 info-block=HEX32",
                        [](const Options& o) { return FirstGenScanner::Create(o); });
}  // namespace

}  // namespace tolm::devsim
