#include "QuorinDevice.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "protocol/Frame.h"

namespace tolm::devsim {

namespace {

constexpr uint8_t kCmdConnect = 0x07;
constexpr uint8_t kCmdInfo = 0x10;
constexpr uint8_t kCmdFilePut = 0x61;
constexpr uint8_t kCmdFileInfo = 0x63;
constexpr uint8_t kCmdFileDelete = 0x66;
constexpr uint8_t kCmdDiskSpace = 0x6A;
constexpr uint8_t kCmdFirmware = 0x70;
constexpr uint8_t kCmdDirectory = 0x73;
constexpr int kFirmwareData = 1024;
constexpr int kFileBlock = 4096;
constexpr int kMaxName = 255;
constexpr uint32_t kMaxBody = 64u << 20;  // refuse absurd announced sizes

// Position of the first 0x00 at or after from; -1 none yet (or none within a name's length).
int NulFrom(const TByteBuffer& bytes, int from) {
    for (int i = from; i < bytes.Length() && i <= from + kMaxName; ++i)
        if (bytes[i] == 0x00) return i;
    return -1;
}

// Frame length of a request whose name starts at nameOffset and is followed
// by its 0x00 and one further 0x00; 0 when more bytes are needed.
int NamedRequestLength(const TByteBuffer& pending, int nameOffset) {
    int nul = NulFrom(pending, nameOffset);
    if (nul < 0) return pending.Length() > nameOffset + kMaxName ? -1 : 0;
    return nul + 4;
}

std::string NameAt(const TByteBuffer& request, int offset) {
    int nul = NulFrom(request, offset);
    return nul < 0 ? std::string() : request.Mid(offset, nul - offset).ToText();
}

bool ParseHexId(const std::string& text, TByteBuffer& id) {
    std::string digits = text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0 ? text.substr(2) : text;
    if (digits.size() != 8) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(digits.c_str(), &end, 16);
    if (!end || *end != '\0') return false;
    id = frame::BigEndian32(static_cast<int32_t>(v));
    return true;
}

// A file of the given size with a recognisable pattern.
TByteBuffer PatternFile(long size) {
    TByteBuffer data(static_cast<int>(size));
    for (int i = 0; i < data.Length(); ++i) data[i] = static_cast<uint8_t>('A' + i % 26);
    return data;
}

}  // namespace

bool QuorinDevice::FromOptions(const Options& options, Settings& s, std::string& error) {
    if (options.Has("id") && !ParseHexId(options.Get("id"), s.id)) {
        error = "id takes 8 hex digits";
        return false;
    }
    s.name = options.Get("name", s.name);
    if (s.name.size() > 6) {
        error = "name takes at most 6 characters";
        return false;
    }
    s.name.resize(6, ' ');
    s.model = options.Get("model", s.model);
    s.model.resize(4, ' ');
    s.type = static_cast<uint8_t>(options.GetInt("type", s.type));
    s.kernel = static_cast<uint8_t>(options.GetInt("kernel", s.kernel));
    s.announceMs = static_cast<int>(options.GetInt("announce-ms", s.announceMs));
    s.connectAck = options.GetInt("connect-ack", 0) != 0;
    s.announceAgainMs = static_cast<int>(options.GetInt("announce-again-ms", s.announceAgainMs));
    s.capacity = static_cast<uint32_t>(options.GetInt("capacity", s.capacity));
    // files=A:NAME:SIZE,B:NAME:SIZE
    std::string list = options.Get("files");
    size_t start = 0;
    while (start < list.size()) {
        size_t comma = list.find(',', start);
        std::string item = list.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? list.size() : comma + 1;
        size_t colon = item.rfind(':');
        if (item.size() < 4 || (item.rfind("A:", 0) != 0 && item.rfind("B:", 0) != 0) || colon < 2) {
            error = "files takes A:NAME:SIZE entries separated by commas";
            return false;
        }
        char* end = nullptr;
        long size = std::strtol(item.c_str() + colon + 1, &end, 10);
        if (!end || *end != '\0' || size < 0 || size > static_cast<long>(kMaxBody)) {
            error = "bad file size in " + item;
            return false;
        }
        s.files[item.substr(0, colon)] = PatternFile(size);
    }
    return true;
}

QuorinDevice::QuorinDevice(Settings settings) : settings_(std::move(settings)) {}

TByteBuffer QuorinDevice::Reply(uint8_t command, const TByteBuffer& data) const {
    return frame::Wrap(
        frame::AddressedPayloadFrom(settings_.type, settings_.id, TByteBuffer{0, 0, 0, 0}, command, data));
}

TByteBuffer QuorinDevice::Announcement() const {
    TByteBuffer data{0x00, 0x00};  // frame offsets 12-13
    data.Append(TByteBuffer::FromText(settings_.name));
    return Reply(frame::kAnnounce, data);
}

void QuorinDevice::OnIdle(Line& line) {
    auto now = std::chrono::steady_clock::now();
    // A host that has gone quiet for long enough is greeted anew, as when the
    // operator starts the terminal's link again.
    if (acknowledged_ && settings_.announceAgainMs > 0 &&
        now - lastRequest_ >= std::chrono::milliseconds(settings_.announceAgainMs))
        acknowledged_ = false;
    if (acknowledged_) return;
    if (now - lastAnnounce_ < std::chrono::milliseconds(settings_.announceMs)) return;
    lastAnnounce_ = now;
    line.Write(Announcement());
}

bool QuorinDevice::TakeImageComplete() {
    bool complete = imageComplete_;
    imageComplete_ = false;
    return complete;
}

int QuorinDevice::RequestLength(const TByteBuffer& pending) {
    // A request is handed over only once all of it has arrived.
    const int length = FrameLength(pending);
    return length > pending.Length() ? 0 : length;
}

int QuorinDevice::FrameLength(const TByteBuffer& pending) const {
    const int n = pending.Length();
    if (pending[0] != frame::kFlag) return -1;
    if (n < 2) return 0;
    if (pending[1] != frame::kFlag) return -1;
    if (n < 12) return 0;
    switch (pending[frame::kCommandOffset]) {
        case frame::kAck:
        case kCmdConnect:
        case kCmdInfo:
            return 14;
        case kCmdDiskSpace:
        case kCmdDirectory:
            return 15;
        case kCmdFileInfo:
        case kCmdFileDelete:
            return NamedRequestLength(pending, 12);
        case kCmdFirmware:
        case kCmdFilePut: {
            if (n < 13) return 0;
            const bool put = pending[frame::kCommandOffset] == kCmdFilePut;
            switch (pending[12]) {
                case 0x00: return put ? NamedRequestLength(pending, 19) : 19;
                case 0x01: return put ? 17 + kFileBlock + 2 : 17 + kFirmwareData + 2;
                case 0x02: return 15;
                default: return -1;
            }
        }
        default:
            return -1;
    }
}

void QuorinDevice::OnRequest(const TByteBuffer& request, Line& line) {
    const int n = request.Length();
    // A corrupt frame is dropped, as a terminal would.
    if (request[n - 1] != frame::kFlag || frame::CheckByte(request.data() + 2, n - 4) != request[n - 2]) return;
    if (hook.admit && !hook.admit(request)) return;
    lastRequest_ = std::chrono::steady_clock::now();
    if (request[frame::kDeviceTypeOffset] != settings_.type) return;
    if (request.Mid(frame::kReceiverOffset, 4) != settings_.id || !SentByHost(request)) return;
    TByteBuffer reply = Answer(request);
    if (hook.reply) hook.reply(request, reply);
    if (!reply.IsEmpty()) line.Write(reply);
}

TByteBuffer QuorinDevice::Answer(const TByteBuffer& request) {
    switch (request[frame::kCommandOffset]) {
        case frame::kAck:
            acknowledged_ = true;
            return {};
        case kCmdConnect:
            return settings_.connectAck ? Reply(frame::kAck) : TByteBuffer();
        case kCmdInfo: {
            TByteBuffer data{0x00, 0x00};
            TByteBuffer block(16, 0x00);
            for (int i = 0; i < 4; ++i) block[i] = static_cast<uint8_t>(settings_.model[static_cast<size_t>(i)]);
            block[9] = settings_.kernel;
            data.Append(block);
            return Reply(kCmdInfo, data);
        }
        case kCmdFirmware: return Firmware(request);
        case kCmdFilePut: return FilePut(request);
        case kCmdFileInfo: return FileInfo(request);
        case kCmdFileDelete: return FileDelete(request);
        case kCmdDiskSpace: return DiskSpace();
        case kCmdDirectory: return Directory(request);
        default: return {};
    }
}

TByteBuffer QuorinDevice::Firmware(const TByteBuffer& request) {
    switch (request[12]) {
        case 0x00: {
            uint32_t size = frame::ReadBigEndian32(request, 13);
            if (size > kMaxBody) return {};
            body_ = TByteBuffer(static_cast<int>(size), 0xFF);
            downloading_ = true;
            return Reply(frame::kAck);
        }
        case 0x01: {
            if (!downloading_ || frame::ReadBigEndian16(request, 15) != kFirmwareData) return {};
            const long long at = static_cast<long long>(frame::ReadBigEndian16(request, 13)) * kFirmwareData;
            for (int k = 0; k < kFirmwareData && at + k < body_.Length(); ++k)
                body_[static_cast<int>(at + k)] = request[17 + k];
            return Reply(frame::kAck);
        }
        case 0x02:
            if (!downloading_) return {};
            downloading_ = false;
            imageComplete_ = true;
            return Reply(frame::kAck);
        default:
            return {};
    }
}

uint32_t QuorinDevice::UsedBytes() const {
    uint32_t used = 0;
    for (auto& [name, data] : settings_.files) used += static_cast<uint32_t>(data.Length());
    return used;
}

uint32_t QuorinDevice::FreeBytes() const {
    const uint32_t used = UsedBytes();
    return used >= settings_.capacity ? 0 : settings_.capacity - used;
}

TByteBuffer QuorinDevice::FilePut(const TByteBuffer& request) {
    switch (request[12]) {
        case 0x00: {
            if (frame::ReadBigEndian16(request, 13) != kFileBlock) return {};  // the block size the terminal uses
            const uint32_t size = frame::ReadBigEndian32(request, 15);
            const std::string name = NameAt(request, 19);
            if (name.size() < 3 || (name.rfind("A:", 0) != 0 && name.rfind("B:", 0) != 0)) return {};
            // A file that replaces one of the same name may use that one's space.
            auto old = settings_.files.find(name);
            const uint32_t freed = old == settings_.files.end() ? 0 : static_cast<uint32_t>(old->second.Length());
            if (size > FreeBytes() + freed) return {};
            putting_ = true;
            putName_ = name;
            putData_ = TByteBuffer(static_cast<int>(size), 0x00);
            return Reply(frame::kAck);
        }
        case 0x01: {
            if (!putting_) return {};
            const long long at = static_cast<long long>(frame::ReadBigEndian16(request, 13)) * kFileBlock;
            if (at >= putData_.Length()) return {};  // a block past the announced size
            // The length bytes: 1 0 for a full block, else 0 and the low byte of the bytes it holds.
            const long long held = std::min<long long>(kFileBlock, putData_.Length() - at);
            if (request[15] != held / kFileBlock || request[16] != static_cast<uint8_t>(held % kFileBlock)) return {};
            for (int k = 0; k < kFileBlock && at + k < putData_.Length(); ++k)
                putData_[static_cast<int>(at + k)] = request[17 + k];
            return Reply(frame::kAck);
        }
        case 0x02:
            if (!putting_) return {};
            putting_ = false;
            settings_.files[putName_] = putData_;
            return Reply(frame::kAck);
        default:
            return {};
    }
}

TByteBuffer QuorinDevice::FileInfo(const TByteBuffer& request) {
    const std::string name = NameAt(request, 12);
    auto it = settings_.files.find(name);
    if (it == settings_.files.end()) return {};
    const int size = it->second.Length();
    TByteBuffer data{0x00};                                   // frame offset 12
    data.Append(frame::BigEndian16(kFileBlock));              // 13-14
    data.Append(frame::BigEndian32(size));                    // 15-18
    data.Append(frame::BigEndian16((size + kFileBlock - 1) / kFileBlock));  // 19-20
    data.Append(TByteBuffer::FromText(name));                 // 21 on
    return Reply(kCmdFileInfo, data);
}

TByteBuffer QuorinDevice::FileDelete(const TByteBuffer& request) {
    return settings_.files.erase(NameAt(request, 12)) ? Reply(frame::kAck) : TByteBuffer();
}

TByteBuffer QuorinDevice::DiskSpace() const {
    TByteBuffer data = frame::BigEndian32(static_cast<int32_t>(FreeBytes()));
    data.Append(frame::BigEndian32(static_cast<int32_t>(settings_.capacity)));
    return Reply(kCmdDiskSpace, data);
}

TByteBuffer QuorinDevice::Directory(const TByteBuffer& request) const {
    const std::string drive = request[12] == 0 ? "A:" : "B:";
    std::string text;
    for (auto& [name, data] : settings_.files) {
        if (name.rfind(drive, 0) != 0) continue;
        std::string entry = (text.empty() ? "" : "|") + name.substr(2) + "|" + std::to_string(data.Length());
        if (text.size() + entry.size() > 255) break;  // the count is one byte: whole entries only
        text += entry;
    }
    TByteBuffer data{request[12], static_cast<uint8_t>(text.size())};
    data.Append(TByteBuffer::FromText(text));
    return Reply(kCmdDirectory, data);
}

namespace {
std::unique_ptr<Device> MakeQuorin(const Options& options) {
    QuorinDevice::Settings settings;
    std::string error;
    if (!QuorinDevice::FromOptions(options, settings, error)) {
        std::fprintf(stderr, "tolm-devsim: quorin: %s\n", error.c_str());
        return nullptr;
    }
    return std::make_unique<QuorinDevice>(std::move(settings));
}

Registration quorinRegistration(
    "quorin",
    "Quorin terminal: announces (0x64) until acknowledged; 0x07 0x10 0x70 0x61 0x63 0x66 0x6A 0x73. "
    "--set id=00000001 name=QR1000 model=QR1Y type=3 kernel=3 announce-ms=2000 announce-again-ms=0 connect-ack=0 "
    "capacity=1048576 files=A:NAME:SIZE,...",
    DeviceFactory(MakeQuorin));
}  // namespace

}  // namespace tolm::devsim
