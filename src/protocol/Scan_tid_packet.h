#pragma once
// Second-generation scanners with a terminal ID (file family codes "2TW",
// "2GH") and their docking stations. Requests carry the addressed header
// (type 0x01, sender 00 00 00 00, receiver TerminalID). A file holds one or two
// images: the scanner's, sent with command 0x70, and the docking station's,
// sent with command 0x75; ImageOffset says which image (in 1024-byte blocks)
// the file check, the loader and the packet counter work on.
#include <array>
#include <cstdint>
#include <string>

#include "protocol/Packetframe.h"
#include "protocol/Scan_packet.h"
#include "toolkit/ByteBuffer.h"

namespace tolm {

class TTolmSerialComm;
class TProgressBar;
class TControl;

class TScan_TID_Packet : public TPacketFrame {
public:
    static constexpr uint8_t kDeviceType = 0x01;
    static constexpr uint8_t kCmdAck = 0x06;
    static constexpr uint8_t kCmdScannerInfo = 0x10;
    static constexpr uint8_t kCmdDockInfo = 0x11;
    static constexpr uint8_t kCmdQuit = 0x30;
    static constexpr uint8_t kCmdQueryReply = 0x64;
    static constexpr uint8_t kCmdAnnounce = 0x6E;
    static constexpr uint8_t kCmdAnnounceAnswer = 0x6F;
    static constexpr uint8_t kCmdScannerTransfer = 0x70;
    static constexpr uint8_t kCmdDockTransfer = 0x75;
    static constexpr uint8_t kCmdScannerQuery = 0x90;
    static constexpr uint8_t kCmdDockQuery = 0x95;
    static constexpr uint8_t kPhaseStart = 0x00;
    static constexpr uint8_t kPhaseBlock = 0x01;
    static constexpr uint8_t kPhaseEnd = 0x02;
    static constexpr int kAckLength = 14;
    static constexpr int kLongAckLength = 15;  // the docking station's 0x75 start and end answers
    static constexpr int kQueryReplyLength = 24;
    static constexpr int kAnnounceLength = 14;
    static constexpr int kInfoReplyLength = 32;
    static constexpr int kRetryPauseMs = 100;
    static constexpr int kSecondImageOffset = 257;  // in blocks: 263168 bytes into a two-image file

    TScan_TID_Packet();

    // Frame of block i's packet (1043 bytes once loaded); empty until then.
    std::array<TByteBuffer, scanimage::kBlockCount> BlockPacket;
    // 1 = block i is not sent (blank flash).
    std::array<uint8_t, scanimage::kBlockCount> SkipBlock{};
    std::string ModelCode;
    int32_t Digit6 = 0;
    uint8_t KernelDigit = 0;
    uint8_t Digit14 = 0;
    int32_t ImageLength = 0;
    int32_t ImageOffset = 0;

    // Reads the current image's trailer at (ImageOffset + 256) * 1024: 0 read;
    // -1 the file does not exist or holds no complete trailer there.
    int CheckUpgradeFileVer(const std::string& path);

    // Queries that need no terminal ID: true when a query reply set TerminalID.
    bool Send_90_InfoPacket(TTolmSerialComm* comm);
    bool Send_95_InfoPacket(TTolmSerialComm* comm);
    // Waits up to ReplyTimeout for the scanner's announcement; when it comes,
    // takes the terminal ID from it and answers with 0x6F.
    void CheckScanFall(TTolmSerialComm* comm);

    // The 16-byte identification block of the scanner (0x10) or docking
    // station (0x11), or empty. Empty without a request when no ID is known.
    TByteBuffer Send_10_InfoPacket(TTolmSerialComm* comm);
    TByteBuffer Send_11_InfoPacket(TTolmSerialComm* comm);
    // 0, -2 (no block), -3 kernel, -4 model, -5 digit 6, -6 digit 14.
    int CheckUpgradeKernel10(TTolmSerialComm* comm);
    int CheckUpgradeKernel11(TTolmSerialComm* comm);

    // Fill BlockPacket and SkipBlock for the image at ImageOffset, addressed to
    // the current TerminalID. Without a terminal ID the tables are emptied, so
    // that no block of an earlier load can be sent.
    void LoadFileToMemory70(const std::string& path);
    void LoadFileToMemory75(const std::string& path);

    bool Send_70_StartPacket(TTolmSerialComm* comm);
    bool Send_75_StartPacket(TTolmSerialComm* comm);
    // Sends every block not skipped; the panel shows the block number
    // (ImageOffset + i for 0x75), the bar advances by one per block, sent or
    // skipped. Either control may be null.
    bool Send_70_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel);
    bool Send_75_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel);
    bool Send_70_EndPacket(TTolmSerialComm* comm);
    bool Send_75_EndPacket(TTolmSerialComm* comm);
    bool Send_30_Quit(TTolmSerialComm* comm);
    void Send_6F_StartPacket(TTolmSerialComm* comm);
    void SendACK(TTolmSerialComm* comm);

    // Writes the file's two images, as stored, to Scan.BIN and Dock.BIN in
    // outputDir: 0 done; -1 the file does not exist or cannot be read; -2 an
    // output file could not be written (none is left half-written).
    int DecomposeRomFile(const std::string& path, const std::string& outputDir = ".");

    // The byte-level pieces of the exchanges above.
    static TByteBuffer QueryFrame(uint8_t command);
    // H(command) + data for the current TerminalID; empty when none is known.
    TByteBuffer Request(uint8_t command, const TByteBuffer& data = {}) const;
    TByteBuffer StartFrame(uint8_t command) const;
    TByteBuffer EndFrame(uint8_t command) const;
    static bool IsAcknowledgement(const TByteBuffer& reply);
    // The 0x75 start also takes 15 bytes with 0x06 at offset 12, the 0x75 end
    // 15 bytes with 0x06 at offset 11.
    static bool IsStart75Acknowledgement(const TByteBuffer& reply);
    static bool IsEnd75Acknowledgement(const TByteBuffer& reply);
    static bool IsQueryReply(const TByteBuffer& reply);
    static bool IsAnnouncement(const TByteBuffer& frame);
    // Frame offsets 14-29 of a 32-byte reply; empty for any other reply.
    static TByteBuffer IdentificationBlock(const TByteBuffer& reply);
    int CompareIdentification(const TByteBuffer& block) const;

private:
    using TAcceptReply = bool (*)(const TByteBuffer&);
    bool Query(TTolmSerialComm* comm, uint8_t command);
    TByteBuffer Identify(TTolmSerialComm* comm, uint8_t command);
    void LoadImage(const std::string& path, uint8_t command);
    // Up to three send-and-wait attempts without pauses, until accepted.
    bool ExchangeAccepted(TTolmSerialComm* comm, const TByteBuffer& frame, TAcceptReply accept, int expectedLength);
    bool SendBlocks(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel, int panelBase);
};

}  // namespace tolm
