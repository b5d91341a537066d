// The scanner TID protocol: trailer of the current image, block frames, reply
// recognisers, the identification comparison, the splitting of a two-image
// file, then the exchanges.
#include "protocol/Scan_tid_packet.h"

#include <string>
#include <vector>

#include "protocol/Readfile.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"
#include "toolkit/Files.h"

namespace tolm {

namespace {

bool WriteWhole(const std::string& path, const std::vector<uint8_t>& bytes) {
    return WriteWholeFile(path, std::string(bytes.begin(), bytes.end())) == TWholeFileWrite::Written;
}

}  // namespace

TScan_TID_Packet::TScan_TID_Packet() : TPacketFrame(THexDump::TwoDigit) {}

int TScan_TID_Packet::CheckUpgradeFileVer(const std::string& path) {
    scanimage::TTrailerFields fields;
    const int64_t offset = (static_cast<int64_t>(ImageOffset) + scanimage::kBlockCount) * scanimage::kBlockSize;
    const int r = offset < 0 ? -1 : scanimage::ReadTrailer(path, offset, fields);
    if (r != 0) return r;
    ModelCode = fields.ModelCode;
    Digit6 = fields.Digit6;
    KernelDigit = fields.KernelDigit;
    Digit14 = fields.Digit14;
    return 0;
}

void TScan_TID_Packet::LoadFileToMemory70(const std::string& path) { LoadImage(path, kCmdScannerTransfer); }

void TScan_TID_Packet::LoadFileToMemory75(const std::string& path) { LoadImage(path, kCmdDockTransfer); }

void TScan_TID_Packet::LoadImage(const std::string& path, uint8_t command) {
    if (!HasTerminalID()) {
        // Frames addressed to no one must not be sent, nor those of an earlier load.
        BlockPacket = {};
        SkipBlock = {};
        return;
    }
    const TByteBuffer receiver = TerminalID;
    scanimage::LoadBlocks(
        path, ImageOffset,
        [&](int block) {
            TByteBuffer data{kPhaseBlock};
            data.Append(frame::BigEndian16(block));  // relative to the image, never ImageOffset + block
            data.Append(frame::BigEndian16(scanimage::kBlockSize));
            return frame::AddressedPayload(kDeviceType, receiver, command, data);
        },
        BlockPacket, SkipBlock);
}

TByteBuffer TScan_TID_Packet::QueryFrame(uint8_t command) {
    return SetLRC(frame::AddressedPayload(kDeviceType, TByteBuffer{0, 0, 0, 0}, command));
}

TByteBuffer TScan_TID_Packet::Request(uint8_t command, const TByteBuffer& data) const {
    return AddressedRequest(kDeviceType, command, data);
}

TByteBuffer TScan_TID_Packet::StartFrame(uint8_t command) const {
    TByteBuffer data{kPhaseStart};
    data.Append(frame::BigEndian32(static_cast<int32_t>(static_cast<uint32_t>(ImageLength) - scanimage::kBlockSize)));
    return Request(command, data);
}

TByteBuffer TScan_TID_Packet::EndFrame(uint8_t command) const { return Request(command, {kPhaseEnd}); }

bool TScan_TID_Packet::IsAcknowledgement(const TByteBuffer& reply) { return frame::IsAddressedAck(reply); }

bool TScan_TID_Packet::IsStart75Acknowledgement(const TByteBuffer& reply) {
    return IsAcknowledgement(reply) || (reply.Length() == kLongAckLength && reply[12] == kCmdAck);
}

bool TScan_TID_Packet::IsEnd75Acknowledgement(const TByteBuffer& reply) {
    return IsAcknowledgement(reply) || (reply.Length() == kLongAckLength && reply[11] == kCmdAck);
}

bool TScan_TID_Packet::IsQueryReply(const TByteBuffer& reply) {
    return reply.Length() == kQueryReplyLength && reply[frame::kCommandOffset] == kCmdQueryReply;
}

bool TScan_TID_Packet::IsAnnouncement(const TByteBuffer& frame) {
    return frame.Length() == kAnnounceLength && frame[frame::kCommandOffset] == kCmdAnnounce;
}

TByteBuffer TScan_TID_Packet::IdentificationBlock(const TByteBuffer& reply) {
    if (reply.Length() != kInfoReplyLength) return {};
    return reply.Mid(14, 16);
}

int TScan_TID_Packet::CompareIdentification(const TByteBuffer& block) const {
    if (block.Length() != 16) return -2;
    // Every failing test overwrites the result: the last one decides.
    int result = 0;
    if (block[9] != KernelDigit) result = -3;  // the scanner's kernel level must match exactly
    if (block.Mid(0, 4).ToText() != ModelCode) result = -4;
    if (block[5] != Digit6) result = -5;
    if (block[13] != Digit14) result = -6;
    return result;
}

int TScan_TID_Packet::DecomposeRomFile(const std::string& path, const std::string& outputDir) {
    TReadFile file(path);
    if (!file.IsOpen()) return -1;
    std::vector<uint8_t> scan(scanimage::kImageLength), dock(scanimage::kImageLength);
    const long long scanRead = file.ReadAt(0, scan.data(), scanimage::kImageLength);
    const long long dockRead = file.ReadAt(scanimage::kImageLength, dock.data(), scanimage::kImageLength);
    if (scanRead < 0 || dockRead < 0) return -1;
    scan.resize(static_cast<size_t>(scanRead));
    dock.resize(static_cast<size_t>(dockRead));
    // Only the bytes actually read are written: a short file gives short halves.
    const std::string dir = outputDir.empty() ? "." : outputDir;
    if (!WriteWhole(dir + "/Scan.BIN", scan)) return -2;
    if (!WriteWhole(dir + "/Dock.BIN", dock)) return -2;
    return 0;
}

// ------------------------------------------------------------ exchanges

bool TScan_TID_Packet::Query(TTolmSerialComm* comm, uint8_t command) {
    const TByteBuffer reply = Exchange(comm, QueryFrame(command), kQueryReplyLength);
    if (!IsQueryReply(reply)) return false;
    SetTerminalID(reply);
    return true;
}

bool TScan_TID_Packet::Send_90_InfoPacket(TTolmSerialComm* comm) { return Query(comm, kCmdScannerQuery); }

bool TScan_TID_Packet::Send_95_InfoPacket(TTolmSerialComm* comm) { return Query(comm, kCmdDockQuery); }

void TScan_TID_Packet::CheckScanFall(TTolmSerialComm* comm) {
    if (!comm) return;
    const TByteBuffer announcement = comm->ReceiveByte(PortNumber, ReplyTimeout);
    if (!IsAnnouncement(announcement)) return;
    SetTerminalID(announcement);
    Send_6F_StartPacket(comm);
}

void TScan_TID_Packet::Send_6F_StartPacket(TTolmSerialComm* comm) { Send(comm, Request(kCmdAnnounceAnswer)); }

void TScan_TID_Packet::SendACK(TTolmSerialComm* comm) { Send(comm, Request(kCmdAck)); }

TByteBuffer TScan_TID_Packet::Identify(TTolmSerialComm* comm, uint8_t command) {
    return IdentificationBlock(Exchange(comm, Request(command), kInfoReplyLength));
}

TByteBuffer TScan_TID_Packet::Send_10_InfoPacket(TTolmSerialComm* comm) { return Identify(comm, kCmdScannerInfo); }

TByteBuffer TScan_TID_Packet::Send_11_InfoPacket(TTolmSerialComm* comm) { return Identify(comm, kCmdDockInfo); }

int TScan_TID_Packet::CheckUpgradeKernel10(TTolmSerialComm* comm) {
    return CompareIdentification(Send_10_InfoPacket(comm));
}

int TScan_TID_Packet::CheckUpgradeKernel11(TTolmSerialComm* comm) {
    return CompareIdentification(Send_11_InfoPacket(comm));
}

bool TScan_TID_Packet::ExchangeAccepted(TTolmSerialComm* comm, const TByteBuffer& frame, TAcceptReply accept,
                                        int expectedLength) {
    // A request that could not be built (no terminal ID) is refused, not sent.
    if (frame.IsEmpty()) return false;
    for (int attempt = 0; attempt < 3; ++attempt)
        if (accept(Exchange(comm, frame, expectedLength))) return true;
    return false;
}

bool TScan_TID_Packet::Send_70_StartPacket(TTolmSerialComm* comm) {
    return ExchangeAccepted(comm, StartFrame(kCmdScannerTransfer), IsAcknowledgement, kAckLength);
}

bool TScan_TID_Packet::Send_75_StartPacket(TTolmSerialComm* comm) {
    // Two reply lengths are accepted here, so no single length is announced.
    return ExchangeAccepted(comm, StartFrame(kCmdDockTransfer), IsStart75Acknowledgement, 0);
}

bool TScan_TID_Packet::Send_70_EndPacket(TTolmSerialComm* comm) {
    return ExchangeAccepted(comm, EndFrame(kCmdScannerTransfer), IsAcknowledgement, kAckLength);
}

bool TScan_TID_Packet::Send_75_EndPacket(TTolmSerialComm* comm) {
    return ExchangeAccepted(comm, EndFrame(kCmdDockTransfer), IsEnd75Acknowledgement, 0);
}

bool TScan_TID_Packet::Send_30_Quit(TTolmSerialComm* comm) {
    return ExchangeAccepted(comm, Request(kCmdQuit), IsAcknowledgement, kAckLength);
}

bool TScan_TID_Packet::Send_70_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel) {
    return SendBlocks(comm, bar, panel, 0);
}

bool TScan_TID_Packet::Send_75_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel) {
    // The docking station's image counts on from the scanner's: 257-512 for a second image.
    return SendBlocks(comm, bar, panel, ImageOffset);
}

bool TScan_TID_Packet::SendBlocks(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel, int panelBase) {
    for (int i = 0; i < scanimage::kBlockCount; ++i) {
        if (!SkipBlock[i]) {
            const TByteBuffer& packet = BlockPacket[i];
            // Nothing loaded for this block: there is nothing to send.
            if (packet.IsEmpty()) return false;
            if (panel) {
                panel->SetCaption(std::to_string(panelBase + i));
                panel->Repaint();
            }
            bool acknowledged = IsAcknowledgement(Exchange(comm, packet, kAckLength));
            if (!acknowledged) {
                // Only the second attempt is logged: its request and whatever came back.
                Wait(kRetryPauseMs);
                ShowByte(packet);
                const TByteBuffer reply = Exchange(comm, packet, kAckLength);
                ShowByte(reply);
                acknowledged = IsAcknowledgement(reply);
            }
            if (!acknowledged) {
                Wait(kRetryPauseMs);
                acknowledged = IsAcknowledgement(Exchange(comm, packet, kAckLength));
            }
            if (!acknowledged) return false;
        }
        if (bar) bar->SetPosition(bar->Position() + 1);
    }
    return true;
}

}  // namespace tolm
