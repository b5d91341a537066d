#include "protocol/Packetframe.h"

#include "base/Logfile.h"
#include "toolkit/Event.h"
#include "toolkit/Messages.h"
#include "toolkit/Files.h"

namespace tolm {

void TPacketFrame::SetTerminalID(const TByteBuffer& frame) {
    if (frame.Length() < 7) return;
    TerminalID = frame.Mid(3, 4);
}

std::string TPacketFrame::GetTerminalName(const TByteBuffer& frame) {
    if (frame.Length() < 20) return {};
    return frame.Mid(14, 6).ToText();
}

std::string TPacketFrame::HexDumpLine(const TByteBuffer& bytes) const {
    static const char* digits = "0123456789ABCDEF";
    std::string line;
    line.reserve(static_cast<size_t>(bytes.Length()) * 3);
    for (uint8_t b : bytes) {
        if (dumpStyle_ == THexDump::TwoDigit || b >= 0x10) line += digits[b >> 4];
        line += digits[b & 0x0F];
        line += ',';
    }
    return line;
}

void TPacketFrame::ShowByte(const TByteBuffer& bytes) const {
    if (dumpStyle_ == THexDump::ShortDigit && bytes.Length() < 2) {
        ShowMessage("not Packet");
        return;
    }
    std::string line;
    try {
        line = HexDumpLine(bytes);
    } catch (const std::exception&) {
        MessageBox("【功能操作錯誤】『ShowByte』:ShowByte", "Tolm", TMsgIcon::Information);
        return;
    }
    WriteLogLine(line, static_cast<int>(line.size()));
}

int32_t TPacketFrame::GetFileSize(const std::string& path) {
    int fd = OpenRegularFile(path);
    if (fd < 0) return 0;
    const long long size = OpenFileSize(fd);
    CloseFile(fd);
    return size < 0 ? 0 : static_cast<int32_t>(static_cast<uint32_t>(size));
}

TByteBuffer TPacketFrame::CalcFileSize(const std::string& path, int32_t amount) {
    return frame::BigEndian32(static_cast<int32_t>(static_cast<uint32_t>(GetFileSize(path)) -
                                                   static_cast<uint32_t>(amount)));
}

void TPacketFrame::Wait(int ms) {
    TEvent never;
    never.WaitFor(ms);
}

TByteBuffer TPacketFrame::AddressedRequest(uint8_t deviceType, uint8_t command, const TByteBuffer& data) const {
    if (!HasTerminalID()) return {};
    return SetLRC(frame::AddressedPayload(deviceType, TerminalID, command, data));
}

}  // namespace tolm
