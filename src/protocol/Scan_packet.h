#pragma once
// First-generation scanners (file family codes "2LB", "2ND"): identification
// against the firmware file's trailer, and the three-phase 0x70 transfer of the
// 256 KB image in 256 framed blocks. Payloads carry a short header (type byte
// 0x01, command byte) and no addresses; the scanner acknowledges with a 6-byte
// frame.
//
// Also the pieces both scanner generations share: reading a scanner trailer,
// and cutting an image into block packets with the blank-block skip rule.
#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "protocol/Packetframe.h"
#include "toolkit/ByteBuffer.h"

namespace tolm {

class TTolmSerialComm;
class TProgressBar;
class TControl;

namespace scanimage {

constexpr int kBlockSize = 1024;
constexpr int kBlockCount = 256;
constexpr int kImageBytes = kBlockSize * kBlockCount;  // 262144
constexpr int kImageLength = kImageBytes + kBlockSize;  // 263168: one image and its trailer block
constexpr int kTrailerBytesRead = 21;

// The trailer fields the scanner checks compare with the device.
struct TTrailerFields {
    std::string ModelCode;  // trailer bytes 1-4
    int32_t Digit6 = 0;     // trailer byte 6 - '0'
    uint8_t KernelDigit = 0;  // trailer byte 10 - '0', modulo 256
    uint8_t Digit14 = 0;      // trailer byte 14 - '0', modulo 256
};

// Decodes the first 21 trailer bytes as stored (each +10). False when fewer
// than 21 bytes are given: such a trailer defines no fields.
bool DecodeTrailer(const TByteBuffer& stored, TTrailerFields& fields);

// Reads and decodes the 21 trailer bytes at file offset `offset`. A negative
// offset counts from the end of the file, as -1024 does for "the last block";
// the file must then be at least that long plus 21 bytes (1045 bytes).
// 0 read; -1 the file does not exist, cannot be read, or holds fewer than 21
// trailer bytes there. `fields` changes only on success.
int ReadTrailer(const std::string& path, int64_t offset, TTrailerFields& fields);

// A block stays unsent when it is blank flash (all 0xFF after conversion),
// except every fourth block and the last fifteen, which always go.
bool IsSkippable(int block, bool blank);

// Builds the payload that precedes block i's 1024 data bytes.
using TBlockHeader = std::function<TByteBuffer(int block)>;

// Cuts the 256 blocks that start at file block `firstBlock` into frames:
// header(i), then the 1024 stored bytes each minus 10. Bytes past the end of
// the file count as blank flash (0xFF). False when the file does not exist or
// cannot be opened (tables untouched), or on a read error (tables emptied, so
// that nothing half-loaded can be sent).
bool LoadBlocks(const std::string& path, int firstBlock, const TBlockHeader& header,
                std::array<TByteBuffer, kBlockCount>& packets, std::array<uint8_t, kBlockCount>& skip);

}  // namespace scanimage

class TScan_Packet : public TPacketFrame {
public:
    static constexpr uint8_t kDeviceType = 0x01;
    static constexpr uint8_t kCmdAck = 0x06;
    static constexpr uint8_t kCmdInfo = 0x10;
    static constexpr uint8_t kCmdQuit = 0x30;
    static constexpr uint8_t kCmdTransfer = 0x70;
    static constexpr uint8_t kPhaseStart = 0x00;
    static constexpr uint8_t kPhaseBlock = 0x01;
    static constexpr uint8_t kPhaseEnd = 0x02;
    static constexpr int kAckLength = 6;
    static constexpr int kInfoReplyLength = 24;
    static constexpr int kRetryPauseMs = 100;

    TScan_Packet();

    // 1 = block i is not sent (blank flash); filled by LoadFileToMemory.
    std::array<uint8_t, scanimage::kBlockCount> SkipBlock{};
    // Frame of block i's 0x70 packet (1035 bytes once loaded); empty until then.
    std::array<TByteBuffer, scanimage::kBlockCount> BlockPacket;
    std::string ModelCode;
    int32_t Digit6 = 0;
    uint8_t KernelDigit = 0;
    uint8_t Digit14 = 0;
    // One image with its trailer block; the start request announces ImageLength - 1024.
    int32_t ImageLength = 0;

    // Reads the trailer in the file's last 1024 bytes: 0 read; -1 the file does
    // not exist or is too short to hold a trailer (fields unchanged).
    int CheckUpgradeFileVer(const std::string& path);

    // The scanner's 16-byte identification block, or empty (one attempt).
    TByteBuffer Send_10_InfoPacket(TTolmSerialComm* comm);
    // 0 when the scanner answered the identification request, else -1.
    int CheckConnection(TTolmSerialComm* comm);
    // Kernel level only: 0, -1 (differs) or -2 (no block).
    int CheckUpgradeKernel(TTolmSerialComm* comm);
    // Full comparison: 0, -2 (no block), -3 kernel, -4 model, -5 digit 6, -6 digit 14.
    int CheckUpgradeKernel10(TTolmSerialComm* comm);

    // Fills BlockPacket and SkipBlock from the file's first 262144 bytes.
    void LoadFileToMemory(const std::string& path);

    bool Send_70_StartPacket(TTolmSerialComm* comm);
    // Sends every block not skipped; shows the block number on the panel and
    // the last acknowledged block on the bar. Either control may be null.
    bool Send_70_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel);
    bool Send_70_EndPacket(TTolmSerialComm* comm);
    bool Send_30_Quit(TTolmSerialComm* comm);
    void SendACK(TTolmSerialComm* comm);

    // The byte-level pieces of the exchanges above.
    static TByteBuffer Request(uint8_t command, const TByteBuffer& data = {});
    TByteBuffer StartFrame() const;
    static TByteBuffer EndFrame();
    // Exactly 6 bytes with 0x06 at frame offset 3.
    static bool IsAcknowledgement(const TByteBuffer& reply);
    // Frame offsets 6-21 of a 24-byte reply; empty for any other reply.
    static TByteBuffer IdentificationBlock(const TByteBuffer& reply);
    // The tests of CheckUpgradeKernel10 on a block at hand (empty: -2).
    int CompareIdentification(const TByteBuffer& block) const;
    int CompareKernelLevel(const TByteBuffer& block) const;

private:
    // Up to three send-and-wait attempts without pauses, until acknowledged.
    bool ExchangeAcknowledged(TTolmSerialComm* comm, const TByteBuffer& frame);
    void SetTrailerFields(const scanimage::TTrailerFields& fields);
};

}  // namespace tolm
