// The scanner TID family's exchanges on the serial line.
#include <string>

#include "protocol/Scan_tid_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

namespace tolm {

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
