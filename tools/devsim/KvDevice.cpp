#include "KvDevice.h"

#include <cstdio>
#include <cstdlib>

#include "protocol/Frame.h"

namespace tolm::devsim {

namespace {

constexpr uint8_t kCmdInfo = 0x10;
constexpr uint8_t kCmdQuit = 0x30;
constexpr uint8_t kCmdFirmware = 0x70;
constexpr int kBlock = 4096;
constexpr int kTrailer = 1024;     // the firmware file's identification block, after its body
constexpr long long kFontStart = 512 * 1024;  // flash offset of font entry 0 (data position 512)
const char kFamilyCode[] = "4KV";
const TByteBuffer kUpgradeMode{0x1B, 0x1B, 0x55};

bool ParseHexId(const std::string& text, TByteBuffer& id) {
    std::string digits = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
    if (digits.size() != 8) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(digits.c_str(), &end, 16);
    if (!end || *end != '\0') return false;
    id = frame::BigEndian32(static_cast<int32_t>(v));
    return true;
}

}  // namespace

bool KvDevice::FromOptions(const Options& options, Settings& s, std::string& error) {
    if (options.Has("id") && !ParseHexId(options.Get("id"), s.id)) {
        error = "id takes 8 hex digits";
        return false;
    }
    s.type = static_cast<uint8_t>(options.GetInt("type", s.type));
    s.kernel = static_cast<uint8_t>(options.GetInt("kernel", s.kernel));
    long flash = options.GetInt("flash-size", s.flashSize);
    if (flash < kBlock || flash > (64L << 20)) {
        error = "flash-size takes 4096 to 67108864 bytes";
        return false;
    }
    s.flashSize = static_cast<int>(flash);
    s.flashFill = static_cast<uint8_t>(options.GetInt("flash-fill", s.flashFill));
    return true;
}

KvDevice::KvDevice(Settings settings)
    : settings_(std::move(settings)), flash_(settings_.flashSize, settings_.flashFill) {}

TByteBuffer KvDevice::Reply(uint8_t command, const TByteBuffer& data) const {
    return frame::Wrap(
        frame::AddressedPayloadFrom(settings_.type, settings_.id, TByteBuffer{0, 0, 0, 0}, command, data));
}

bool KvDevice::TakeImageComplete() {
    bool complete = imageComplete_;
    imageComplete_ = false;
    return complete;
}

int KvDevice::RequestLength(const TByteBuffer& pending) {
    // A request is handed over only once all of it has arrived.
    const int length = FrameLength(pending);
    return length > pending.Length() ? 0 : length;
}

int KvDevice::FrameLength(const TByteBuffer& pending) const {
    const int n = pending.Length();
    if (pending[0] == kUpgradeMode[0]) {
        for (int i = 1; i < n && i < 3; ++i)
            if (pending[i] != kUpgradeMode[i]) return -1;
        return n < 3 ? 0 : 3;
    }
    if (pending[0] != frame::kFlag) return -1;
    if (n < 2) return 0;
    if (pending[1] != frame::kFlag) return -1;
    if (n < 12) return 0;
    switch (pending[frame::kCommandOffset]) {
        case frame::kAck:
        case kCmdInfo:
        case kCmdQuit:
            return 14;
        case kCmdFirmware:
            if (n < 13) return 0;
            switch (pending[12]) {
                case 0x00: return 19;
                case 0x01: return 17 + kBlock + 2;
                case 0x02: return 15;
                default: return -1;
            }
        default:
            return -1;
    }
}

void KvDevice::OnRequest(const TByteBuffer& request, Line& line) {
    if (hook.admit && !hook.admit(request)) return;
    if (!AtTerminalSpeed(request)) return;
    if (request == kUpgradeMode) {
        upgradeMode_ = true;
        return;
    }
    const int n = request.Length();
    if (!upgradeMode_) return;
    if (request[n - 1] != frame::kFlag || frame::CheckByte(request.data() + 2, n - 4) != request[n - 2]) return;
    if (request[frame::kDeviceTypeOffset] != settings_.type) return;
    if (request.Mid(frame::kReceiverOffset, 4) != settings_.id || !SentByHost(request)) return;
    TByteBuffer reply = Answer(request);
    if (hook.reply) hook.reply(request, reply);
    if (!reply.IsEmpty()) line.Write(reply);
}

bool KvDevice::AtTerminalSpeed(const TByteBuffer& request) const {
    // Bytes sent at another speed than the terminal's reach it as garbage.
    if (hostSpeed_ == 0 || hostSpeed_ == LineSpeed()) return true;
    // A pty delivers the escape sequence whenever the emulator gets to read
    // it, which may be after the host has already switched to 38400 for what
    // follows; only a real line fixes the speed at the time of sending.
    return request == kUpgradeMode && hostSpeed_ == 38400;
}

TByteBuffer KvDevice::Answer(const TByteBuffer& request) {
    switch (request[frame::kCommandOffset]) {
        case kCmdInfo: {
            TByteBuffer data{0x00, 0x00};  // frame offsets 12-13
            data.Append(TByteBuffer{0x4B, 0x56, 0x31, 0x59, 0x00, 0x06, 0x00, 0x00, 0x00, settings_.kernel, 0x00,
                                    0x00, 0x01, 0x01, 0x00, 0x00});
            return Reply(kCmdInfo, data);
        }
        case kCmdQuit:
            upgradeMode_ = false;
            downloading_ = false;
            return Reply(frame::kAck);
        case kCmdFirmware:
            return Firmware(request);
        default:
            return {};
    }
}

TByteBuffer KvDevice::Firmware(const TByteBuffer& request) {
    switch (request[12]) {
        case 0x00: {
            // The size of the file without its 1024-byte identification block.
            const auto size = static_cast<int32_t>(frame::ReadBigEndian32(request, 13));
            if (size < 0 || static_cast<long long>(size) + kTrailer > flash_.Length()) return {};
            announced_ = size;
            written_.clear();
            downloading_ = true;
            return Reply(frame::kAck);
        }
        case 0x01: {
            if (!downloading_ || frame::ReadBigEndian16(request, 15) != kBlock) return {};
            const long long at = static_cast<long long>(frame::ReadBigEndian16(request, 13)) * 1024;
            if (at + kBlock > flash_.Length()) return {};
            for (int k = 0; k < kBlock; ++k) flash_[static_cast<int>(at + k)] = request[17 + k];
            written_.push_back(at);
            return Reply(frame::kAck);
        }
        case 0x02:
            if (!downloading_ || !MatchesAnnouncedSize()) return {};
            downloading_ = false;
            imageComplete_ = true;
            return Reply(frame::kAck);
        default:
            return {};
    }
}

bool KvDevice::MatchesAnnouncedSize() const {
    const long long extent = static_cast<long long>(announced_) + kTrailer;  // the whole file
    // Firmware: its identification block starts right at the announced size.
    if (flash_.Mid(announced_, 3) == TByteBuffer::FromText(kFamilyCode)) {
        for (long long at : written_)
            if (at >= extent) return false;
        return true;
    }
    // A font: every entry from data position 512 on, inside the file.
    for (long long at : written_)
        if (at < kFontStart || at - kFontStart >= extent) return false;
    return true;
}

namespace {
std::unique_ptr<Device> MakeKv(const Options& options) {
    KvDevice::Settings settings;
    std::string error;
    if (!KvDevice::FromOptions(options, settings, error)) {
        std::fprintf(stderr, "tolm-devsim: kv: %s\n", error.c_str());
        return nullptr;
    }
    return std::make_unique<KvDevice>(std::move(settings));
}

Registration kvRegistration("kv",
                            "KV terminal: silent until 1B 1B 55; 0x10 0x70 0x30; image = flash by data position. "
                            "--set id=00000001 type=4 kernel=3 flash-size=2097152 flash-fill=0xFF",
                            DeviceFactory(MakeKv));
}  // namespace

}  // namespace tolm::devsim
