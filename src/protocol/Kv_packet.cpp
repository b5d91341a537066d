#include "protocol/Kv_packet.h"

#include <algorithm>

#include "protocol/Readfile.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"
#include "toolkit/MainThread.h"
#include "toolkit/Messages.h"

namespace tolm {

namespace {

constexpr uint8_t kCmdInfo = 0x10;
constexpr uint8_t kCmdQuit = 0x30;
constexpr uint8_t kCmdFirmware = 0x70;
constexpr uint8_t kSubStart = 0x00;
constexpr uint8_t kSubData = 0x01;
constexpr uint8_t kSubEnd = 0x02;

constexpr int kInfoReplyLength = 32;
constexpr int kInfoBlockOffset = 14;
constexpr int kInfoBlockLength = 16;
constexpr int kKernelByte = 9;
constexpr int kKernelTrailerOffset = 10;
constexpr int kAckLength = 14;
constexpr int kCommandReplyTimeoutMs = 3000;


// A command file's bytes, first to last; false when it cannot be read.
bool ReadCommandFile(const std::string& path, TByteBuffer& bytes) {
    TReadFile file(path);
    if (!file.IsOpen()) return false;
    const long long size = file.Size();
    if (size < 0 || size > 0x7FFFFFFF) return false;
    bytes = file.ReadAt(0, static_cast<int>(size));
    return bytes.Length() == size;
}

}  // namespace

TKV_Packet::TKV_Packet() : TPacketFrame(THexDump::TwoDigit) { TerminalID = {0x00, 0x00, 0x00, 0x01}; }

template <size_t N>
bool TKV_Packet::SendForAck(TTolmSerialComm* comm, const TByteBuffer& frame, const int (&pausesMs)[N]) const {
    if (frame.IsEmpty()) return false;  // nothing that could be sent
    for (int pause : pausesMs) {
        if (pause > 0) Wait(pause);
        if (frame::IsAddressedAck(Exchange(comm, frame, kAckLength))) return true;
    }
    return false;
}

// ------------------------------------------------------ firmware and font

int TKV_Packet::CheckUpgradeFileVer(const std::string& path) {
    TReadFile file(path);
    if (!file.IsOpen()) return -1;
    const long long size = file.Size();
    // A file shorter than its trailer block is read from its start.
    TByteBuffer trailer = file.ReadAt(size >= kTrailerSize ? size - kTrailerSize : 0, 21);
    // Without the kernel digit the file cannot be checked against a terminal.
    if (trailer.Length() <= kKernelTrailerOffset) return -1;
    KernelDigit = static_cast<uint8_t>(trailer[kKernelTrailerOffset] - 10 - 0x30);
    return 0;
}

bool TKV_Packet::Send_UpgradeMode(TTolmSerialComm* comm) {
    Send(comm, TByteBuffer{0x1B, 0x1B, 0x55});
    return false;
}

TByteBuffer TKV_Packet::Send_10_InfoPacket(TTolmSerialComm* comm) {
    TByteBuffer reply = Exchange(comm, Request(kCmdInfo), kInfoReplyLength);
    if (reply.Length() != kInfoReplyLength) return {};
    return reply.Mid(kInfoBlockOffset, kInfoBlockLength);
}

bool TKV_Packet::Check_10_InfoPacket(TTolmSerialComm* comm) {
    TByteBuffer info = Send_10_InfoPacket(comm);
    return info.Length() == kInfoBlockLength && std::equal(info.begin(), info.end(), kIdentification.begin());
}

int TKV_Packet::CheckUpgradeKernel(TTolmSerialComm* comm) {
    TByteBuffer info = Send_10_InfoPacket(comm);
    if (info.Length() != kInfoBlockLength) return -2;
    return info[kKernelByte] == KernelDigit ? 0 : -1;
}

void TKV_Packet::BuildEntry(int i, int dataPosition, const TByteBuffer& fileBytes, bool minusTen) {
    TByteBuffer data(kBlockSize, kFill);
    for (int k = 0; k < fileBytes.Length(); ++k)
        data[k] = minusTen ? static_cast<uint8_t>(fileBytes[k] - 10) : fileBytes[k];
    SkipBlock[i] = std::all_of(data.begin(), data.end(), [](uint8_t b) { return b == 0xFF; }) ? 1 : 0;
    TByteBuffer command{kSubData};
    command.Append(frame::BigEndian16(dataPosition));
    command.Append(frame::BigEndian16(kBlockSize));
    command.Append(data);
    BlockPacket[i] = Request(kCmdFirmware, command);
}

int TKV_Packet::LoadFileToMemory(const std::string& path) {
    TReadFile file(path);
    if (!file.IsOpen()) {
        for (int i = 0; i < kBlockCount; ++i) {
            BlockPacket[i] = TByteBuffer();
            SkipBlock[i] = 0;
        }
        return -1;
    }
    for (int i = 0; i < kBlockCount; ++i)
        BuildEntry(i, 4 * i, file.ReadAt(static_cast<long long>(i) * kBlockSize, kBlockSize), true);
    return 0;
}

int TKV_Packet::LoadFileToMemoryFont(const std::string& path) {
    TReadFile file(path);
    if (!file.IsOpen()) return -1;
    const int count = FontEntryCount();
    if (count > kFontMaxEntries || count < 0) return -2;
    for (int i = 0; i < count; ++i)
        BuildEntry(i, kFontFirstPosition + 4 * i, file.ReadAt(static_cast<long long>(i) * kBlockSize, kBlockSize),
                   false);
    return 0;
}

bool TKV_Packet::Send_70_StartPacket(TTolmSerialComm* comm) {
    TByteBuffer command{kSubStart};
    command.Append(frame::BigEndian32(FirmwareSize - kTrailerSize));
    return SendForAck(comm, Request(kCmdFirmware, command), {0, 0, 0});
}

bool TKV_Packet::SendEntries(TTolmSerialComm* comm, int count, TProgressBar* progress, TControl* panel) {
    count = std::min(count, kBlockCount);
    for (int i = 0; i < count; ++i) {
        if (SkipBlock[i]) continue;
        if (panel) {
            panel->SetCaption(std::to_string(i));
            panel->Repaint();
        }
        if (!SendForAck(comm, BlockPacket[i], {0, 100, 100})) return false;
        if (progress) progress->SetPosition(i);
    }
    return true;
}

bool TKV_Packet::Send_70_Packet(TTolmSerialComm* comm, TProgressBar* progress, TControl* panel) {
    return SendEntries(comm, kBlockCount, progress, panel);
}

bool TKV_Packet::Send_70_Packet_Font(TTolmSerialComm* comm, TProgressBar* progress, TControl* panel) {
    const int count = FontEntryCount();
    if (progress) {
        progress->SetMax(count);
        progress->SetMin(0);
    }
    return SendEntries(comm, count, progress, panel);
}

bool TKV_Packet::Send_70_EndPacket(TTolmSerialComm* comm) {
    return SendForAck(comm, Request(kCmdFirmware, {kSubEnd}), {0, 0, 0});
}

bool TKV_Packet::Send_30_Quit(TTolmSerialComm* comm) { return SendForAck(comm, Request(kCmdQuit), {0, 0, 0}); }

void TKV_Packet::SendACK(TTolmSerialComm* comm) { Send(comm, Request(frame::kAck)); }

// ------------------------------------------------------------ command files

int TKV_Packet::Send_Command_from_BinFile(TTolmSerialComm* comm, const std::string& path) {
    TByteBuffer bytes;
    if (path.empty() || !ReadCommandFile(path, bytes)) return -1;
    if (!bytes.IsEmpty()) Send(comm, bytes);
    return 0;
}

bool TKV_Packet::SendChunk(TTolmSerialComm* comm, const TByteBuffer& data, int count, int pauseMs, int& failures) {
    while ((comm ? comm->SendByte(PortNumber, data, count) : -1) != 0) {
        ProcessMessages();
        Wait(pauseMs);
        if (++failures > kCommandFileMaxFailures) {
            ShowMessage("無法傳送資料");
            return false;
        }
    }
    return true;
}

int TKV_Packet::Send_Command_from_BinFile(TTolmSerialComm* comm, const std::string& path, int chunkSize,
                                          int pauseMs) {
    TByteBuffer bytes;
    if (path.empty() || !ReadCommandFile(path, bytes)) return -1;
    if (chunkSize <= 0) chunkSize = std::max(bytes.Length(), 1);  // no chunking asked: one send
    int failures = 0;
    TByteBuffer chunk;
    for (uint8_t b : bytes) {
        chunk.Append(b);
        if (chunk.Length() == chunkSize) {
            if (!SendChunk(comm, chunk, chunkSize, pauseMs, failures)) return -1;
            Wait(pauseMs);
            chunk = TByteBuffer();
        }
    }
    if (!chunk.IsEmpty() && !SendChunk(comm, chunk, chunk.Length(), pauseMs, failures)) return -1;
    return 0;
}

TByteBuffer TKV_Packet::Send_Command_from_BinFile_ReceiveByte(TTolmSerialComm* comm, const std::string& path) {
    TByteBuffer bytes;
    if (!comm || path.empty() || !ReadCommandFile(path, bytes) || bytes.IsEmpty()) return {};
    return comm->SendByteReceiveByte(PortNumber, bytes, kCommandReplyTimeoutMs);
}

int TKV_Packet::Send_Command_from_TxtFile(TTolmSerialComm* comm, const std::string& path) {
    return Send_Command_from_BinFile(comm, path);
}

}  // namespace tolm
