// Second-generation scanners and docking stations: addressed frames with a
// terminal ID, queries 0x90/0x95, identification 0x10/0x11, transfers 0x70
// (scanner) and 0x75 (docking station).
#include <cstdio>

#include "Firmwarefile.h"
#include "Scannerdevice.h"
#include "protocol/Frame.h"

namespace tolm::devsim {

namespace {
constexpr uint8_t kType = 0x01;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kScannerInfo = 0x10;
constexpr uint8_t kDockInfo = 0x11;
constexpr uint8_t kQuit = 0x30;
constexpr uint8_t kQueryReply = 0x64;
constexpr uint8_t kAnnounce = 0x6E;
constexpr uint8_t kAnnounceAnswer = 0x6F;
constexpr uint8_t kScannerTransfer = 0x70;
constexpr uint8_t kDockTransfer = 0x75;
constexpr uint8_t kScannerQuery = 0x90;
constexpr uint8_t kDockQuery = 0x95;
constexpr int kCommandOffset = frame::kCommandOffset;
constexpr int kDataLength = 1024;
constexpr int kBlockHeader = 17;  // frame offset of a block's first data byte
}  // namespace

TidDevice::TidDevice(Settings settings) : s_(std::move(settings)) {}

std::unique_ptr<Device> TidDevice::Create(const Options& options, const std::string& defaultRole) {
    const std::string role = options.Get("role", defaultRole);
    if (role != "scanner" && role != "dock" && role != "pair") {
        std::fprintf(stderr, "tolm-devsim: role must be scanner, dock or pair\n");
        return nullptr;
    }
    Identity defaults;
    defaults.model = "TW2Y";
    std::string error;
    auto station = [&](Station& st, const std::string& prefix, const std::string& defaultId,
                       const std::string& defaultName) {
        st.present = true;
        if (!firmware::ParseHexBytes(options.Get(prefix + "id", defaultId), 4, st.id)) {
            error = prefix + "id must be 8 hex digits";
            return false;
        }
        st.name = options.Get(prefix + "name", defaultName);
        st.name.resize(6, ' ');
        auto identity = Identity::FromOptions(options, prefix, defaults, error);
        if (!identity) return false;
        st.identity = *identity;
        return true;
    };
    Settings s;
    bool ok = true;
    if (role == "scanner") ok = station(s.scanner, "", "00000001", "SCAN01");
    if (role == "dock") ok = station(s.dock, "", "00000001", "DOCK01");
    if (role == "pair") ok = station(s.scanner, "", "00000001", "SCAN01") && station(s.dock, "dock-", "00000002", "DOCK01");
    if (!ok) {
        std::fprintf(stderr, "tolm-devsim: %s\n", error.c_str());
        return nullptr;
    }
    s.announce = options.GetInt("announce", 0) != 0;
    s.announceIntervalMs = static_cast<int>(options.GetInt("announce-interval", 250));
    const std::string acks = options.Get("ack75", "long");
    if (acks != "long" && acks != "short") {
        std::fprintf(stderr, "tolm-devsim: ack75 must be long or short\n");
        return nullptr;
    }
    s.longDockAcks = acks == "long";
    return std::make_unique<TidDevice>(std::move(s));
}

int TidDevice::RequestLength(const TByteBuffer& pending) {
    // 7E 7E 01, sender, receiver, command at offset 11 [, phase at 12].
    const uint8_t expected[3] = {frame::kFlag, frame::kFlag, kType};
    for (int i = 0; i < 3; ++i) {
        if (pending.Length() <= i) return 0;
        if (pending[i] != expected[i]) return -1;
    }
    if (pending.Length() <= kCommandOffset) return 0;
    switch (pending[kCommandOffset]) {
        case kAck:
        case kScannerInfo:
        case kDockInfo:
        case kQuit:
        case kAnnounceAnswer:
        case kScannerQuery:
        case kDockQuery:
            return 14;
        case kScannerTransfer:
        case kDockTransfer:
            if (pending.Length() <= kCommandOffset + 1) return 0;
            switch (pending[kCommandOffset + 1]) {
                case 0: return 19;
                case 1: return kBlockHeader + kDataLength + 2;
                case 2: return 15;
                default: return -1;
            }
        default:
            return -1;
    }
}

TByteBuffer TidDevice::From(const Station& station, uint8_t command, const TByteBuffer& data) {
    return frame::Wrap(frame::AddressedPayloadFrom(kType, station.id, TByteBuffer{0, 0, 0, 0}, command, data));
}

TidDevice::Station* TidDevice::Addressed(const TByteBuffer& request) {
    const TByteBuffer receiver = request.Mid(frame::kReceiverOffset, 4);
    if (s_.scanner.present && s_.scanner.id == receiver) return &s_.scanner;
    if (s_.dock.present && s_.dock.id == receiver) return &s_.dock;
    return nullptr;
}

void TidDevice::Answer(const TByteBuffer& request, const ScannerRequest& info, Line& line, const TByteBuffer& reply) {
    if (ShouldAnswer(request, info)) line.Write(reply);
}

void TidDevice::OnRequest(const TByteBuffer& request, Line& line) {
    if (!FrameIntact(request)) return;  // a damaged frame gets no answer
    if (!SentByHost(request)) return;
    hostSpoke_ = true;                  // the host is listening: no more announcements
    ScannerRequest info;
    info.command = request[kCommandOffset];
    Station* to = Addressed(request);
    auto query = [&](const Station& st) {
        TByteBuffer data{0x00, 0x00};
        data.Append(TByteBuffer::FromText(st.name));
        data.Append(TByteBuffer{0x00, 0x00});
        Answer(request, info, line, From(st, kQueryReply, data));
    };
    auto identify = [&](const Station& st) {
        TByteBuffer data{0x00, 0x10};
        data.Append(st.identity.Block());
        Answer(request, info, line, From(st, info.command, data));
    };
    switch (info.command) {
        case kScannerQuery:
            if (s_.scanner.present) query(s_.scanner);
            break;
        case kDockQuery:
            if (s_.dock.present) query(s_.dock);
            break;
        case kScannerInfo:
            if (to == &s_.scanner) identify(s_.scanner);
            break;
        case kDockInfo:
            if (to == &s_.dock) identify(s_.dock);
            break;
        case kQuit:
            if (to) Answer(request, info, line, From(*to, kAck));
            break;
        case kScannerTransfer:
            if (to == &s_.scanner) OnTransfer(*to, request, line);
            break;
        case kDockTransfer:
            if (to == &s_.dock) OnTransfer(*to, request, line);
            break;
        default:  // the host's acknowledgement and its answer to the announcement
            break;
    }
}

void TidDevice::OnTransfer(Station& station, const TByteBuffer& request, Line& line) {
    const bool dock = &station == &s_.dock;
    bool& started = started_[dock ? 1 : 0];
    ScannerRequest info;
    info.command = request[kCommandOffset];
    info.phase = request[kCommandOffset + 1];
    TByteBuffer reply = From(station, kAck);
    switch (info.phase) {
        case 0:
            MarkTransferStart(request);
            station.flash.Erase();
            started = true;
            if (dock && s_.longDockAcks) reply = From(station, kDockTransfer, {kAck});
            break;
        case 1:
            info.block = frame::ReadBigEndian16(request, 13);
            // A block outside the flash, of another length, or before a start is refused.
            if (!started || info.block >= Flash::kBlocks || frame::ReadBigEndian16(request, 15) != kDataLength)
                return;
            station.flash.WriteBlock(info.block, request, kBlockHeader);
            break;
        case 2:
            if (started) MarkImageComplete();
            started = false;
            if (dock && s_.longDockAcks) reply = From(station, kAck, {0x02});
            break;
    }
    Answer(request, info, line, reply);
}

void TidDevice::OnIdle(Line& line) {
    if (!s_.announce || hostSpoke_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastAnnouncement_ < std::chrono::milliseconds(s_.announceIntervalMs)) return;
    lastAnnouncement_ = now;
    const Station& st = s_.scanner.present ? s_.scanner : s_.dock;
    line.Write(From(st, kAnnounce));
}

TByteBuffer TidDevice::Image() const {
    if (!s_.dock.present) return s_.scanner.flash.Bytes();
    if (!s_.scanner.present) return s_.dock.flash.Bytes();
    TByteBuffer both = s_.scanner.flash.Bytes();
    both.Append(s_.dock.flash.Bytes());
    return both;
}

namespace {
const char* const kTidOptions =
    "--set id=00000001 name=SCAN01|DOCK01 model=TW2Y digit6=7 kernel=1 digit14=0 info-block=HEX32 announce=0|1 "
    "announce-interval=250 ack75=long|short role=scanner|dock|pair";
Registration tidScannerReg("tid-scanner", std::string("second-generation scanner (0x90, 0x10, 0x70); ") + kTidOptions,
                           [](const Options& o) { return TidDevice::Create(o, "scanner"); });
Registration tidDockReg("tid-dock", std::string("docking station alone (0x95, 0x11, 0x75); ") + kTidOptions,
                        [](const Options& o) { return TidDevice::Create(o, "dock"); });
Registration tidPairReg("tid-pair",
                        std::string("scanner in its docking station, one line; dock keys take a dock- prefix "
                                    "(dock-id=00000002 ...); ") +
                            kTidOptions,
                        [](const Options& o) { return TidDevice::Create(o, "pair"); });
}  // namespace

}  // namespace tolm::devsim
