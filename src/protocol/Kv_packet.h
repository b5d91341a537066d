#pragma once
// Protocol object of the KV terminal family: firmware and font upgrade
// (upgrade-mode escape 1B 1B 55, identification 0x10, command 0x70 by data
// position, quit 0x30) and the replay of prepared command files.
// No operation shows a message, except the chunked command-file send when it
// gives up.
#include <array>
#include <cstdint>
#include <string>

#include "protocol/Packetframe.h"

namespace tolm {

class TControl;
class TProgressBar;

class TKV_Packet : public TPacketFrame {
public:
    static constexpr uint8_t kDeviceType = 0x04;
    static constexpr int kBlockCount = 512;       // entries of BlockPacket
    static constexpr int kBlockSize = 4096;       // file bytes per data frame
    static constexpr int kTrailerSize = 1024;
    static constexpr int kFontFirstPosition = 512;  // data position of font entry 0
    static constexpr int kFontMaxEntries = 257;     // data positions 512..1536
    static constexpr uint8_t kFill = 0xFF;          // bytes past the end of a file: blank
    static constexpr int kCommandFileMaxFailures = 500;
    // The identification block of a KV terminal in upgrade mode ("KV1Y", kernel 3).
    static constexpr std::array<uint8_t, 16> kIdentification{0x4B, 0x56, 0x31, 0x59, 0x00, 0x06, 0x00, 0x00,
                                                             0x00, 0x03, 0x00, 0x00, 0x01, 0x01, 0x00, 0x00};

    TKV_Packet();

    // Ready-made data frames: entry i holds file offset i * 4096.
    std::array<TByteBuffer, kBlockCount> BlockPacket;
    // 1 when entry i's data is all 0xFF: such entries are not sent.
    std::array<uint8_t, kBlockCount> SkipBlock{};
    uint8_t KernelDigit = 0;
    // Size in bytes of the chosen firmware or font file.
    int32_t FirmwareSize = 0;

    // --- firmware and font upgrade -------------------------------------------

    // 0 read (KernelDigit set); -1 file missing, or too short to hold the kernel digit.
    int CheckUpgradeFileVer(const std::string& path);
    // Sends the raw 1B 1B 55; always false.
    bool Send_UpgradeMode(TTolmSerialComm* comm);
    TByteBuffer Send_10_InfoPacket(TTolmSerialComm* comm);
    // True when the identification block equals kIdentification.
    bool Check_10_InfoPacket(TTolmSerialComm* comm);
    // 0 kernel matches; -1 differs; -2 no valid identification reply.
    int CheckUpgradeKernel(TTolmSerialComm* comm);
    // Builds all 512 firmware entries (bytes minus 10, 0xFF past the end) and
    // SkipBlock. 0 built; -1 the file cannot be read: the entries are then
    // emptied and none is skipped, so that a later send fails instead of
    // sending a previous file or nothing at all.
    int LoadFileToMemory(const std::string& path);
    // Font entries 0..FirmwareSize/4096 at data positions 512 + 4i, bytes as
    // stored. 0 loaded; -1 file missing; -2 more than 257 entries (nothing built).
    int LoadFileToMemoryFont(const std::string& path);
    bool Send_70_StartPacket(TTolmSerialComm* comm);
    // Every non-blank firmware entry, 0..511.
    bool Send_70_Packet(TTolmSerialComm* comm, TProgressBar* progress, TControl* panel);
    // Every non-blank font entry; sets the bar's range to 0..entry count.
    bool Send_70_Packet_Font(TTolmSerialComm* comm, TProgressBar* progress, TControl* panel);
    bool Send_70_EndPacket(TTolmSerialComm* comm);
    bool Send_30_Quit(TTolmSerialComm* comm);
    void SendACK(TTolmSerialComm* comm);

    // Number of font entries for FirmwareSize.
    int FontEntryCount() const { return FirmwareSize / kBlockSize + 1; }

    // --- command files ---------------------------------------------------------
    // The file's bytes go out unchanged. A file that cannot be opened gives -1
    // (an empty buffer) without touching the port; an empty file sends nothing.

    // -1 empty path or unreadable file; 0 otherwise (the send result is ignored).
    int Send_Command_from_BinFile(TTolmSerialComm* comm, const std::string& path);
    // In chunks of chunkSize bytes with pauseMs after each full chunk; a failed
    // send is retried after the pause. -1 empty path, unreadable file, or more
    // than 500 failed sends ("無法傳送資料" shown); 0 sent.
    int Send_Command_from_BinFile(TTolmSerialComm* comm, const std::string& path, int chunkSize, int pauseMs);
    // Sends the file and waits up to 3000 ms for the reply (not examined).
    TByteBuffer Send_Command_from_BinFile_ReceiveByte(TTolmSerialComm* comm, const std::string& path);
    // As the two-argument Send_Command_from_BinFile.
    int Send_Command_from_TxtFile(TTolmSerialComm* comm, const std::string& path);

private:
    TByteBuffer Request(uint8_t command, const TByteBuffer& data = {}) const {
        return AddressedRequest(kDeviceType, command, data);
    }
    template <size_t N>
    bool SendForAck(TTolmSerialComm* comm, const TByteBuffer& frame, const int (&pausesMs)[N]) const;
    // Builds entry i from up to 4096 file bytes at i * 4096, filling with 0xFF.
    void BuildEntry(int i, int dataPosition, const TByteBuffer& fileBytes, bool minusTen);
    // Sends entries [0, count) that are not blank.
    bool SendEntries(TTolmSerialComm* comm, int count, TProgressBar* progress, TControl* panel);
    // Sends the first count bytes of data, retrying failed sends; false when giving up.
    bool SendChunk(TTolmSerialComm* comm, const TByteBuffer& data, int count, int pauseMs, int& failures);
};

}  // namespace tolm
