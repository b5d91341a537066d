// The first-generation scanner protocol, and the scanner image helpers shared
// with the TID family: trailer, block frames, comparisons, then the exchanges.
#include "protocol/Scan_packet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"
#include "toolkit/Files.h"

namespace tolm {

namespace scanimage {

namespace {

constexpr uint8_t kStoredOffset = 10;  // every file byte is stored as its value + 10

uint8_t Unstore(uint8_t stored) { return static_cast<uint8_t>(stored - kStoredOffset); }

bool FileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// A read-only descriptor that closes itself.
class TReadFile {
public:
    // Regular files only: a FIFO or device is refused without blocking.
    explicit TReadFile(const std::string& path) : fd_(OpenRegularFile(path)) {}
    ~TReadFile() {
        if (fd_ >= 0) close(fd_);
    }
    TReadFile(const TReadFile&) = delete;
    TReadFile& operator=(const TReadFile&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    int64_t Size() const {
        struct stat st {};
        return fstat(fd_, &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
    }
    // Reads up to count bytes at offset; the number read, or -1 on an error.
    int64_t ReadAt(int64_t offset, uint8_t* buffer, int64_t count) const {
        int64_t done = 0;
        while (done < count) {
            ssize_t n = pread(fd_, buffer + done, static_cast<size_t>(count - done), offset + done);
            if (n < 0) {
                if (errno == EINTR) continue;
                return -1;
            }
            if (n == 0) break;
            done += n;
        }
        return done;
    }

private:
    int fd_;
};

}  // namespace

bool DecodeTrailer(const TByteBuffer& stored, TTrailerFields& fields) {
    if (stored.Length() < kTrailerBytesRead) return false;
    TByteBuffer t(kTrailerBytesRead);
    for (int i = 0; i < kTrailerBytesRead; ++i) t[i] = Unstore(stored[i]);
    fields.ModelCode = t.Mid(1, 4).ToText();
    fields.Digit6 = static_cast<int32_t>(t[6]) - '0';
    fields.KernelDigit = static_cast<uint8_t>(t[10] - '0');
    fields.Digit14 = static_cast<uint8_t>(t[14] - '0');
    return true;
}

int ReadTrailer(const std::string& path, int64_t offset, TTrailerFields& fields) {
    if (!FileExists(path)) return -1;
    TReadFile file(path);
    if (!file.IsOpen()) return -1;
    if (offset < 0) {
        // Counted from the end: a file shorter than that distance plus the 21
        // trailer bytes (1045 bytes for the last block) holds no usable trailer.
        const int64_t size = file.Size();
        if (size < -offset + kTrailerBytesRead) return -1;
        offset += size;
    }
    TByteBuffer stored(kTrailerBytesRead);
    const int64_t got = file.ReadAt(offset, stored.data(), kTrailerBytesRead);
    if (got < kTrailerBytesRead) return -1;
    return DecodeTrailer(stored, fields) ? 0 : -1;
}

bool IsSkippable(int block, bool blank) { return blank && block % 4 != 0 && block <= 240; }

bool LoadBlocks(const std::string& path, int firstBlock, const TBlockHeader& header,
                std::array<TByteBuffer, kBlockCount>& packets, std::array<uint8_t, kBlockCount>& skip) {
    if (!FileExists(path)) return false;
    TReadFile file(path);
    if (!file.IsOpen()) return false;

    std::array<TByteBuffer, kBlockCount> newPackets;
    std::array<uint8_t, kBlockCount> newSkip{};
    uint8_t stored[kBlockSize];
    for (int i = 0; i < kBlockCount; ++i) {
        const int64_t offset = (static_cast<int64_t>(firstBlock) + i) * kBlockSize;
        const int64_t got = file.ReadAt(offset, stored, kBlockSize);
        if (got < 0) {
            // A read error leaves nothing that could be sent by mistake.
            packets = {};
            skip = {};
            return false;
        }
        TByteBuffer payload = header(i);
        const int dataStart = payload.Length();
        payload.SetLength(dataStart + kBlockSize);
        bool blank = true;
        for (int k = 0; k < kBlockSize; ++k) {
            // Bytes past the end of the file are blank flash.
            const uint8_t value = k < got ? Unstore(stored[k]) : 0xFF;
            payload.data()[dataStart + k] = value;
            if (value != 0xFF) blank = false;
        }
        newPackets[i] = TPacketFrame::SetLRC(payload);
        newSkip[i] = IsSkippable(i, blank) ? 1 : 0;
    }
    packets = std::move(newPackets);
    skip = newSkip;
    return true;
}

}  // namespace scanimage

TScan_Packet::TScan_Packet() : TPacketFrame(THexDump::TwoDigit) {}

void TScan_Packet::SetTrailerFields(const scanimage::TTrailerFields& fields) {
    ModelCode = fields.ModelCode;
    Digit6 = fields.Digit6;
    KernelDigit = fields.KernelDigit;
    Digit14 = fields.Digit14;
}

int TScan_Packet::CheckUpgradeFileVer(const std::string& path) {
    scanimage::TTrailerFields fields;
    const int r = scanimage::ReadTrailer(path, -scanimage::kBlockSize, fields);
    if (r == 0) SetTrailerFields(fields);
    return r;
}

void TScan_Packet::LoadFileToMemory(const std::string& path) {
    scanimage::LoadBlocks(
        path, 0,
        [](int block) {
            TByteBuffer head{kDeviceType, kCmdTransfer, kPhaseBlock};
            head.Append(frame::BigEndian16(block));
            head.Append(frame::BigEndian16(scanimage::kBlockSize));
            return head;
        },
        BlockPacket, SkipBlock);
}

TByteBuffer TScan_Packet::Request(uint8_t command, const TByteBuffer& data) {
    TByteBuffer payload{kDeviceType, command};
    payload.Append(data);
    return SetLRC(payload);
}

TByteBuffer TScan_Packet::StartFrame() const {
    TByteBuffer data{kPhaseStart};
    data.Append(frame::BigEndian32(static_cast<int32_t>(static_cast<uint32_t>(ImageLength) - scanimage::kBlockSize)));
    return Request(kCmdTransfer, data);
}

TByteBuffer TScan_Packet::EndFrame() { return Request(kCmdTransfer, {kPhaseEnd}); }

bool TScan_Packet::IsAcknowledgement(const TByteBuffer& reply) {
    return reply.Length() == kAckLength && reply[3] == kCmdAck;
}

TByteBuffer TScan_Packet::IdentificationBlock(const TByteBuffer& reply) {
    if (reply.Length() != kInfoReplyLength) return {};
    return reply.Mid(6, 16);
}

int TScan_Packet::CompareKernelLevel(const TByteBuffer& block) const {
    if (block.Length() != 16) return -2;
    return block[9] != KernelDigit ? -1 : 0;
}

int TScan_Packet::CompareIdentification(const TByteBuffer& block) const {
    if (block.Length() != 16) return -2;
    // Every failing test overwrites the result: the last one decides.
    int result = 0;
    if (block[9] < KernelDigit) result = -3;  // an equal or newer kernel on the scanner passes
    if (block.Mid(0, 4).ToText() != ModelCode) result = -4;
    if (block[5] != Digit6) result = -5;
    if (Digit6 != 6 && Digit6 != 7 && Digit6 != 8) result = -5;
    if (block[13] != Digit14) result = -6;
    return result;
}

// ------------------------------------------------------------ exchanges

TByteBuffer TScan_Packet::Send_10_InfoPacket(TTolmSerialComm* comm) {
    return IdentificationBlock(Exchange(comm, Request(kCmdInfo), kInfoReplyLength));
}

int TScan_Packet::CheckConnection(TTolmSerialComm* comm) { return Send_10_InfoPacket(comm).Length() == 16 ? 0 : -1; }

int TScan_Packet::CheckUpgradeKernel(TTolmSerialComm* comm) { return CompareKernelLevel(Send_10_InfoPacket(comm)); }

int TScan_Packet::CheckUpgradeKernel10(TTolmSerialComm* comm) {
    return CompareIdentification(Send_10_InfoPacket(comm));
}

bool TScan_Packet::ExchangeAcknowledged(TTolmSerialComm* comm, const TByteBuffer& frame) {
    for (int attempt = 0; attempt < 3; ++attempt)
        if (IsAcknowledgement(Exchange(comm, frame, kAckLength))) return true;
    return false;
}

bool TScan_Packet::Send_70_StartPacket(TTolmSerialComm* comm) { return ExchangeAcknowledged(comm, StartFrame()); }

bool TScan_Packet::Send_70_EndPacket(TTolmSerialComm* comm) { return ExchangeAcknowledged(comm, EndFrame()); }

bool TScan_Packet::Send_30_Quit(TTolmSerialComm* comm) { return ExchangeAcknowledged(comm, Request(kCmdQuit)); }

void TScan_Packet::SendACK(TTolmSerialComm* comm) { Send(comm, Request(kCmdAck)); }

bool TScan_Packet::Send_70_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel) {
    for (int i = 0; i < scanimage::kBlockCount; ++i) {
        if (SkipBlock[i]) continue;
        const TByteBuffer& packet = BlockPacket[i];
        // Nothing loaded for this block: there is nothing to send.
        if (packet.IsEmpty()) return false;
        if (panel) {
            panel->SetCaption(std::to_string(i));
            panel->Repaint();
        }
        bool acknowledged = IsAcknowledgement(Exchange(comm, packet, kAckLength));
        for (int retry = 0; retry < 2 && !acknowledged; ++retry) {
            Wait(kRetryPauseMs);
            acknowledged = IsAcknowledgement(Exchange(comm, packet, kAckLength));
        }
        if (!acknowledged) return false;
        if (bar) bar->SetPosition(i);
    }
    return true;
}

}  // namespace tolm
