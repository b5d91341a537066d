#include "protocol/Quorin_packet.h"

#include <cctype>

#include "base/Strfunc.h"
#include "protocol/Readfile.h"
#include "toolkit/Controls.h"
#include "toolkit/Exception.h"
#include "toolkit/Files.h"

namespace tolm {

namespace {

constexpr uint8_t kCmdConnect = 0x07;
constexpr uint8_t kCmdInfo = 0x10;
constexpr uint8_t kCmdFileDownload = 0x61;
constexpr uint8_t kCmdFileInfo = 0x63;
constexpr uint8_t kCmdFileDelete = 0x66;
constexpr uint8_t kCmdDiskFree = 0x6A;
constexpr uint8_t kCmdFirmware = 0x70;
constexpr uint8_t kCmdDirectory = 0x73;
constexpr uint8_t kSubStart = 0x00;
constexpr uint8_t kSubData = 0x01;
constexpr uint8_t kSubEnd = 0x02;

constexpr int kInfoReplyLength = 32;
constexpr int kInfoBlockOffset = 14;
constexpr int kInfoBlockLength = 16;
constexpr int kKernelByte = 9;
constexpr int kAckLength = 14;
const std::string kMinimumVersion = "105";


bool FileExists(const std::string& path) { return RegularFileFacts(path).has_value(); }

std::string UpperCase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The trailer as the identification reads it: at 1024 bytes before the end,
// or at the start of a file shorter than that. False when the file cannot be
// opened or read (as opposed to a file too short to hold count bytes).
bool ReadTrailer(const std::string& path, int count, TByteBuffer& bytes) {
    TReadFile file(path);
    if (!file.IsOpen()) return false;
    long long size = file.Size();
    long long offset = size >= TQuorin_Packet::kTrailerSize ? size - TQuorin_Packet::kTrailerSize : 0;
    bytes = file.ReadAt(offset, count);
    if (bytes.Length() < count && size - offset >= count) return false;
    for (int i = 0; i < bytes.Length(); ++i) bytes[i] = static_cast<uint8_t>(bytes[i] - 10);
    return true;
}

// Decimal integer as a conversion routine reads it: optional sign, digits.
long long ParseDecimal(const std::string& text) {
    size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    if (i == text.size() || text.size() - i > 18) throw EConvertError("'" + text + "' is not a valid integer value");
    long long value = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') throw EConvertError("'" + text + "' is not a valid integer value");
        value = value * 10 + (text[i] - '0');
    }
    return negative ? -value : value;
}

}  // namespace

TQuorin_Packet::TQuorin_Packet() : TPacketFrame(THexDump::ShortDigit) {}

template <size_t N>
bool TQuorin_Packet::SendForAck(TTolmSerialComm* comm, const TByteBuffer& frame, const int (&pausesMs)[N]) const {
    if (frame.IsEmpty()) return false;  // no terminal to address: never sent
    for (int pause : pausesMs) {
        if (pause > 0) Wait(pause);
        if (frame::IsAddressedAck(Exchange(comm, frame, kAckLength))) return true;
    }
    return false;
}

// ---------------------------------------------------------------- firmware

int TQuorin_Packet::CheckUpgradeFileVer(const std::string& path) {
    if (!FileExists(path)) return -1;
    // A file that is there but cannot be read is a file error, not an old version.
    TByteBuffer trailer;
    if (!ReadTrailer(path, 21, trailer)) return -1;
    // A trailer that could not be read whole holds no version to compare.
    if (trailer.Length() < 21) return -2;
    std::string version{static_cast<char>(trailer[18]), static_cast<char>(trailer[19]), static_cast<char>(trailer[20])};
    if (version < kMinimumVersion) return -2;
    KernelDigit = static_cast<uint8_t>(trailer[10] - 0x30);
    return 0;
}

TByteBuffer TQuorin_Packet::Send_10_InfoPacket(TTolmSerialComm* comm) {
    TByteBuffer reply = Exchange(comm, Request(kCmdInfo), kInfoReplyLength);
    if (reply.Length() != kInfoReplyLength) return {};
    return reply.Mid(kInfoBlockOffset, kInfoBlockLength);
}

int TQuorin_Packet::CheckUpgradeKernel(TTolmSerialComm* comm) {
    TByteBuffer info = Send_10_InfoPacket(comm);
    if (info.Length() != kInfoBlockLength) return -2;
    return info[kKernelByte] == KernelDigit ? 0 : -1;
}

int TQuorin_Packet::LoadFileToMemory(const std::string& path) {
    TReadFile file(path);
    if (!file.IsOpen() || !HasTerminalID()) {
        for (auto& entry : BlockPacket) entry = TByteBuffer();
        return file.IsOpen() ? -2 : -1;
    }
    for (int i = 0; i < kFirmwarePackets; ++i) {
        TByteBuffer bytes = file.ReadAt(static_cast<long long>(i) * kFirmwareDataSize, kFirmwareDataSize);
        TByteBuffer data(kFirmwareDataSize, kFirmwareFill);
        for (int k = 0; k < bytes.Length(); ++k) data[k] = static_cast<uint8_t>(bytes[k] - 10);
        TByteBuffer command{kSubData};
        command.Append(frame::BigEndian16(i));
        command.Append(frame::BigEndian16(kFirmwareDataSize));
        command.Append(data);
        BlockPacket[i] = Request(kCmdFirmware, command);
    }
    return 0;
}

bool TQuorin_Packet::Send_07_Connect_Start(TTolmSerialComm* comm) {
    return SendForAck(comm, Request(kCmdConnect), {0});
}

bool TQuorin_Packet::Send_70_StartPacket(TTolmSerialComm* comm) {
    TByteBuffer command{kSubStart};
    command.Append(frame::BigEndian32(FirmwareSize - kTrailerSize));
    return SendForAck(comm, Request(kCmdFirmware, command), {100, 0, 0});
}

bool TQuorin_Packet::Send_70_Packet(TTolmSerialComm* comm, TProgressBar* progress, TControl* panel) {
    for (int i = 0; i < kFirmwarePackets; ++i) {
        if (panel) {
            panel->SetCaption(std::to_string(i));
            panel->Repaint();
        }
        if (!SendForAck(comm, BlockPacket[i], {0, 100, 1000})) return false;
        if (progress) progress->SetPosition(i);
    }
    return true;
}

bool TQuorin_Packet::Send_70_EndPacket(TTolmSerialComm* comm) {
    return SendForAck(comm, Request(kCmdFirmware, {kSubEnd}), {100, 0, 0});
}

void TQuorin_Packet::SendACK(TTolmSerialComm* comm) { Send(comm, Request(frame::kAck)); }

// ------------------------------------------------------ terminal files

TByteBuffer TQuorin_Packet::TerminalFileName(int drive, const std::string& name) {
    TByteBuffer bytes = TByteBuffer::FromText((drive == 0 ? "A:" : "B:") + UpperCase(name));
    bytes.Append(0x00);
    return bytes;
}

std::string TQuorin_Packet::BaseName(const std::string& path) {
    size_t cut = path.find_last_of("/\\");
    return cut == std::string::npos ? path : path.substr(cut + 1);
}

int TQuorin_Packet::FileBlockCount(const std::string& path) {
    long long size = static_cast<uint32_t>(GetFileSize(path));
    return static_cast<int>((size + kFileBlockSize - 1) / kFileBlockSize);
}

int TQuorin_Packet::LoadFilesToMemory(const std::string& path) {
    TReadFile file(path);
    if (!file.IsOpen()) return -1;
    const int blocks = FileBlockCount(path);
    if (blocks > kBlockCount) return -2;
    if (!HasTerminalID()) return -3;
    for (int i = 0; i < blocks; ++i) {
        TByteBuffer bytes = file.ReadAt(static_cast<long long>(i) * kFileBlockSize, kFileBlockSize);
        const int n = bytes.Length();
        TByteBuffer data(kFileBlockSize, kFileFill);
        for (int k = 0; k < n; ++k) data[k] = bytes[k];
        // Length field: whole 4096-byte units read, then the low byte of the rest.
        TByteBuffer command{kSubData};
        command.Append(frame::BigEndian16(i));
        command.Append(static_cast<uint8_t>(n / kFileBlockSize));
        command.Append(static_cast<uint8_t>(n % kFileBlockSize));
        command.Append(data);
        BlockPacket[i] = Request(kCmdFileDownload, command);
    }
    return blocks;
}

bool TQuorin_Packet::Send_61_StartPacket(TTolmSerialComm* comm, int drive, const std::string& path) {
    TByteBuffer command{kSubStart};
    command.Append(frame::BigEndian16(kFileBlockSize));
    command.Append(CalcFileSize(path, 0));
    command.Append(TerminalFileName(drive, BaseName(path)));
    command.Append(0x00);
    return SendForAck(comm, Request(kCmdFileDownload, command), {0, 0, 0});
}

bool TQuorin_Packet::SendFileBlocks(TTolmSerialComm* comm, int blocks, TProgressBar* progress) {
    if (blocks > kBlockCount) return false;
    for (int i = 0; i < blocks; ++i) {
        ShowByte(BlockPacket[i]);
        if (!SendForAck(comm, BlockPacket[i], {0, 100, 1000})) return false;
        if (progress) {
            progress->SetPosition(progress->Position() + 1);
            progress->Repaint();
        }
    }
    return true;
}

bool TQuorin_Packet::Send_61_Packet(TTolmSerialComm* comm, const std::string& path, TProgressBar* progress) {
    return SendFileBlocks(comm, FileBlockCount(path), progress);
}

bool TQuorin_Packet::Send_61_EndPacket(TTolmSerialComm* comm) {
    return SendForAck(comm, Request(kCmdFileDownload, {kSubEnd}), {100, 0, 0});
}

int TQuorin_Packet::Send_61_Download(TTolmSerialComm* comm, int drive, const std::string& path,
                                     TProgressBar* progress) {
    Wait(100);
    if (path.empty()) return -2;
    int result = 0;
    try {
        const int loaded = LoadFilesToMemory(path);
        if (loaded == -1 || loaded == -2) return kFileNotLoadable;
        if (!Send_61_StartPacket(comm, drive, path))
            result = -3;
        else if (!Send_61_Packet(comm, path, progress))
            result = -4;
        if (!Send_61_EndPacket(comm) && result == 0) result = -5;
    } catch (const Exception&) {
        if (result == 0) result = -6;
    }
    return result;
}

bool TQuorin_Packet::Get_63_info(const TByteBuffer& reply, int32_t& fileSize, std::string& replyText) {
    // The size field ends at offset 18; a shorter reply cannot carry it.
    if (reply.Length() < 19 || reply[frame::kCommandOffset] != kCmdFileInfo) return false;
    fileSize = static_cast<int32_t>(frame::ReadBigEndian32(reply, 15));
    const int textEnd = reply.Length() - 3;  // last byte before the check byte and flag
    replyText = textEnd >= 21 ? reply.Mid(21, textEnd - 21 + 1).ToText() : std::string();
    return true;
}

bool TQuorin_Packet::Send_63_StartPacket(TTolmSerialComm* comm, int drive, const std::string& name,
                                         int32_t& fileSize, std::string& replyText) {
    TByteBuffer command = TerminalFileName(drive, BaseName(name));
    command.Append(0x00);
    TByteBuffer request = Request(kCmdFileInfo, command);
    if (request.IsEmpty()) return false;
    for (int attempt = 0; attempt < 3; ++attempt)
        if (Get_63_info(Exchange(comm, request), fileSize, replyText)) return true;
    return false;
}

int TQuorin_Packet::Send_63_Upload(TTolmSerialComm* comm, int drive, const std::string& name, const std::string&,
                                   TProgressBar*) {
    Wait(100);
    if (name.empty()) return -2;
    try {
        int32_t size = 0;
        std::string text;
        if (!Send_63_StartPacket(comm, drive, name, size, text)) return -3;
    } catch (const Exception&) {
        return -6;
    }
    return -1;
}

bool TQuorin_Packet::Send_63_Packet(TTolmSerialComm* comm, const std::string& path, TProgressBar* progress) {
    return SendFileBlocks(comm, FileBlockCount(path), progress);
}

bool TQuorin_Packet::Send_63_EndPacket(TTolmSerialComm* comm) { return Send_61_EndPacket(comm); }

bool TQuorin_Packet::Send_66_Packet(TTolmSerialComm* comm, int drive, const std::string& name, TProgressBar*) {
    TByteBuffer command = TerminalFileName(drive, name);
    command.Append(0x00);
    return SendForAck(comm, Request(kCmdFileDelete, command), {0, 0, 0});
}

int TQuorin_Packet::Send_66_Delete(TTolmSerialComm* comm, int drive, const std::string& name,
                                   TProgressBar* progress) {
    Wait(100);
    if (name.empty()) return -2;
    try {
        if (!Send_66_Packet(comm, drive, name, progress)) return -3;
    } catch (const Exception&) {
        return -4;
    }
    return 0;
}

uint32_t TQuorin_Packet::Send_6A_CheckDiskFree(TTolmSerialComm* comm, int selector) {
    TByteBuffer reply = Exchange(comm, Request(kCmdDiskFree, {static_cast<uint8_t>(selector)}));
    if (reply.Length() < 14 || reply[frame::kCommandOffset] != kCmdDiskFree) return 0;
    const int offset = selector == 0 ? 12 : selector == 1 ? 16 : -1;
    if (offset < 0 || reply.Length() < offset + 4) return 0;
    return frame::ReadBigEndian32(reply, offset);
}

std::string TQuorin_Packet::Send_73_Dir(TTolmSerialComm* comm, int selector) {
    TByteBuffer request = Request(kCmdDirectory, {static_cast<uint8_t>(selector)});
    if (request.IsEmpty()) return {};
    for (int attempt = 0; attempt < 2; ++attempt) {
        TByteBuffer reply = Exchange(comm, request);
        if (reply.Length() < 14 || reply[frame::kCommandOffset] != kCmdDirectory) continue;
        const int count = reply[13];
        // A reply cut short of its announced text is not taken in part.
        if (reply.Length() < 14 + count) continue;
        return reply.Mid(14, count).ToText();
    }
    return {};
}

std::string TQuorin_Packet::FormatBytes(long long value) {
    std::string digits = std::to_string(value < 0 ? -value : value);
    std::string grouped;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
        grouped += digits[i];
    }
    return (value < 0 ? "-" : "") + grouped + " Bytes";
}

void TQuorin_Packet::ShowTreeView(TListView* list, const std::string& directory) {
    if (!list) return;
    list->Clear();
    try {
        const int rows = directory.empty() ? 0 : (CountChar(directory, '|') + 1) / 2;
        for (int r = 0; r < rows; ++r) {
            std::string name = FieldOf(directory, '|', 2 * r + 1);
            std::string size = FieldOf(directory, '|', 2 * r + 2);
            const long long value = ParseDecimal(size);
            TListItem& item = list->Add();
            item.Caption = name;
            item.SubItems = {FormatBytes(value), size};
        }
    } catch (...) {
        list->EndUpdate();  // the rows shown so far stay visible
        throw;
    }
    list->EndUpdate();
}

bool TQuorin_Packet::TermianlFileExists(const std::string& name, TListView* list) {
    if (!list) return false;
    const std::string wanted = UpperCase(name);
    for (const TListItem& item : list->Items())
        if (UpperCase(item.Caption) == wanted) return true;
    return false;
}

}  // namespace tolm
