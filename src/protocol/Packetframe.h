#pragma once
// What every family's protocol object shares: the link fields, the frame
// builder, the terminal identity taken from an announcement, the hex dump to
// the diagnostic log, the file-size helpers and the two exchange forms.
// Each family class derives from it and so offers these under the same names.
#include <cstdint>
#include <string>

#include "protocol/Frame.h"
#include "toolkit/ByteBuffer.h"

namespace tolm {

class TTolmSerialComm;

// Two hex-dump styles: short digits ("7E,3,0,") or always two ("7E,03,00,").
enum class THexDump { ShortDigit, TwoDigit };

class TPacketFrame {
public:
    explicit TPacketFrame(THexDump dumpStyle) : dumpStyle_(dumpStyle) {}
    virtual ~TPacketFrame() = default;

    int32_t ReplyTimeout = 1000;
    int32_t PortNumber = 0;
    std::string PortSettings;
    TByteBuffer TerminalID;

    static TByteBuffer SetLRC(const TByteBuffer& payload) { return frame::Wrap(payload); }

    // Copies frame bytes 3-6 into TerminalID. A frame shorter than 7 bytes
    // carries no ID: TerminalID is left as it was.
    void SetTerminalID(const TByteBuffer& frame);
    // The 6 characters at frame offsets 14-19; empty for a shorter frame.
    static std::string GetTerminalName(const TByteBuffer& frame);
    bool HasTerminalID() const { return TerminalID.Length() == 4; }

    // Appends the hex dump of the buffer to the diagnostic log.
    void ShowByte(const TByteBuffer& bytes) const;
    // The dump line ShowByte writes ("" when the short-digit style refuses it).
    std::string HexDumpLine(const TByteBuffer& bytes) const;

    // Size in bytes (low 32 bits); 0 when the file cannot be opened. The file
    // is only read, so a read-only firmware file has its real size.
    static int32_t GetFileSize(const std::string& path);
    // GetFileSize minus amount, as 4 bytes big-endian.
    static TByteBuffer CalcFileSize(const std::string& path, int32_t amount);
    // Blocks the calling thread for ms milliseconds.
    static void Wait(int ms);

protected:
    // The addressed request frame of this object's terminal: type, 00 00 00 00,
    // TerminalID, command, data. Empty when no 4-byte TerminalID is known, so
    // that the request is never sent (and counts as not acknowledged).
    TByteBuffer AddressedRequest(uint8_t deviceType, uint8_t command, const TByteBuffer& data = {}) const;
    // Send and wait: the reply bytes, or empty on time-out or when frame is empty.
    TByteBuffer Exchange(TTolmSerialComm* comm, const TByteBuffer& frame, int expectedLength = 0) const;
    // Send only; the send result (0 sent).
    int Send(TTolmSerialComm* comm, const TByteBuffer& frame) const;

private:
    THexDump dumpStyle_;
};

}  // namespace tolm
