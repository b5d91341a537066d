#pragma once
// Protocol object of the Quorin terminal family: firmware download (command
// 0x70, announced by the terminal's 0x64 frame) and operations on the files
// of the terminal's drives (0x61 put, 0x63 ask, 0x66 delete, 0x6A disk space,
// 0x73 directory). No operation shows a message; results are codes.
#include <array>
#include <cstdint>
#include <string>

#include "protocol/Packetframe.h"

namespace tolm {

class TControl;
class TListView;
class TProgressBar;

class TQuorin_Packet : public TPacketFrame {
public:
    static constexpr uint8_t kDeviceType = 0x03;
    static constexpr int kBlockCount = 548;            // entries of BlockPacket
    static constexpr int kFirmwarePackets = 547;       // data frames of a firmware download
    static constexpr int kFirmwareDataSize = 1024;     // firmware bytes per data frame
    static constexpr int kFileBlockSize = 4096;        // file bytes per 0x61 data frame
    static constexpr int kTrailerSize = 1024;          // identification block at the end of a firmware file
    static constexpr uint8_t kFirmwareFill = 0xFF;     // firmware bytes past the end of the file
    static constexpr uint8_t kFileFill = 0x00;         // 0x61 block bytes past the end of the file

    // Result codes of the file operations beyond those of their table.
    static constexpr int kFileNotLoadable = -7;  // Send_61_Download: missing, unreadable or over 548 blocks

    TQuorin_Packet();

    // Ready-made frames: firmware data frames 0-546, or 0x61 data frames from 0 up.
    std::array<TByteBuffer, kBlockCount> BlockPacket;
    // Kernel number the firmware file asks of the terminal (set by CheckUpgradeFileVer).
    uint8_t KernelDigit = 0;
    // Size in bytes of the chosen firmware file, trailer included.
    int32_t FirmwareSize = 0;

    static int Get_Quorin_Download_Packet_Size() { return kFileBlockSize; }

    // --- firmware download -------------------------------------------------

    // 0 accepted; -1 file missing or unreadable (a FIFO, a device, no permission);
    // -2 version below "105", or a file too short to hold a version (KernelDigit
    // is then left as it was).
    int CheckUpgradeFileVer(const std::string& path);
    // 0 kernel matches KernelDigit; -1 it differs; -2 no valid identification reply.
    int CheckUpgradeKernel(TTolmSerialComm* comm);
    // The 16-byte identification block of a 32-byte reply, else empty.
    TByteBuffer Send_10_InfoPacket(TTolmSerialComm* comm);
    // Builds data frames 0-546 from the file (bytes minus 10, 0xFF past its end).
    // 0 built; -1 the file cannot be read; -2 no terminal ID to address them to.
    // On failure the entries are emptied, so that nothing stale is sent.
    int LoadFileToMemory(const std::string& path);
    bool Send_07_Connect_Start(TTolmSerialComm* comm);
    bool Send_70_StartPacket(TTolmSerialComm* comm);
    // Sends frames 0-546; panel shows the packet number, the bar the last acknowledged one.
    bool Send_70_Packet(TTolmSerialComm* comm, TProgressBar* progress, TControl* panel);
    bool Send_70_EndPacket(TTolmSerialComm* comm);
    // Acknowledges the terminal's announcement (no answer awaited).
    void SendACK(TTolmSerialComm* comm);

    // --- terminal file operations ------------------------------------------
    // drive 0 is "A:", any other value "B:".

    // 0 done; -2 empty path; -3 start refused; -4 a block refused; -5 only the
    // end refused; -6 an exception; kFileNotLoadable (nothing sent).
    int Send_61_Download(TTolmSerialComm* comm, int drive, const std::string& path, TProgressBar* progress);
    // Builds the 0x61 data frames of the file. The number of blocks; -1 the
    // file cannot be read; -2 it needs more than 548 blocks; -3 no terminal
    // ID to address them to (nothing built in these cases).
    int LoadFilesToMemory(const std::string& path);
    bool Send_61_StartPacket(TTolmSerialComm* comm, int drive, const std::string& path);
    bool Send_61_Packet(TTolmSerialComm* comm, const std::string& path, TProgressBar* progress);
    bool Send_61_EndPacket(TTolmSerialComm* comm);

    // Only the start exchange is made: -2 empty name; -3 no valid reply;
    // -6 an exception; -1 otherwise. path and progress are not used.
    int Send_63_Upload(TTolmSerialComm* comm, int drive, const std::string& name, const std::string& path,
                       TProgressBar* progress);
    bool Send_63_StartPacket(TTolmSerialComm* comm, int drive, const std::string& name, int32_t& fileSize,
                             std::string& replyText);
    // A valid 0x63 reply: more than 18 bytes with 0x63 at offset 11. The
    // out-arguments are set only then.
    static bool Get_63_info(const TByteBuffer& reply, int32_t& fileSize, std::string& replyText);
    // The 0x61 data phase again over BlockPacket, and the 0x61 end request.
    bool Send_63_Packet(TTolmSerialComm* comm, const std::string& path, TProgressBar* progress);
    bool Send_63_EndPacket(TTolmSerialComm* comm);

    // 0 done; -2 empty name; -3 not acknowledged; -4 an exception.
    int Send_66_Delete(TTolmSerialComm* comm, int drive, const std::string& name, TProgressBar* progress);
    bool Send_66_Packet(TTolmSerialComm* comm, int drive, const std::string& name, TProgressBar* progress);

    // Disk-space figure 0 or 1 of the terminal; 0 when there is no valid reply.
    uint32_t Send_6A_CheckDiskFree(TTolmSerialComm* comm, int selector);
    // Directory text "name|size|name|size..."; empty when there is no valid reply.
    std::string Send_73_Dir(TTolmSerialComm* comm, int selector);

    // One row per name/size pair: caption the name, sub-items "1,234 Bytes" and
    // "1234". A size that is not a decimal number raises EConvertError.
    static void ShowTreeView(TListView* list, const std::string& directory);
    // True when a row's caption equals name, ignoring case.
    static bool TermianlFileExists(const std::string& name, TListView* list);

    // --- frame building, shared with the operations above --------------------

    // "A:" or "B:" + the name in upper case + 0x00.
    static TByteBuffer TerminalFileName(int drive, const std::string& name);
    // The last component of a workstation path ('/' or '\' separated).
    static std::string BaseName(const std::string& path);
    // 1234567 -> "1,234,567 Bytes".
    static std::string FormatBytes(long long value);

private:
    TByteBuffer Request(uint8_t command, const TByteBuffer& data = {}) const {
        return AddressedRequest(kDeviceType, command, data);
    }
    // Sends frame until it is acknowledged; pausesMs[k] precedes attempt k.
    template <size_t N>
    bool SendForAck(TTolmSerialComm* comm, const TByteBuffer& frame, const int (&pausesMs)[N]) const;
    // 0x61 data phase over entries 0..blocks-1 with the log dump and progress.
    bool SendFileBlocks(TTolmSerialComm* comm, int blocks, TProgressBar* progress);
    static int FileBlockCount(const std::string& path);
};

}  // namespace tolm
