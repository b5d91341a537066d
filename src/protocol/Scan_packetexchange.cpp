// The first-generation scanner's exchanges on the serial line.
#include <string>

#include "protocol/Scan_packet.h"
#include "serial/Tolmserialcomm.h"
#include "toolkit/Controls.h"

namespace tolm {

TByteBuffer TScan_Packet::Send_10_InfoPacket(TTolmSerialComm* comm) {
    return IdentificationBlock(Exchange(comm, Request(kCmdInfo), kInfoReplyLength));
}

int TScan_Packet::CheckConnection(TTolmSerialComm* comm) { return Send_10_InfoPacket(comm).Length() == 16 ? 0 : -1; }

int TScan_Packet::CheckUpgradeKernel(TTolmSerialComm* comm) { return CompareKernelLevel(Send_10_InfoPacket(comm)); }

int TScan_Packet::CheckUpgradeKernel10(TTolmSerialComm* comm) {
    return CompareIdentification(Send_10_InfoPacket(comm));
}

bool TScan_Packet::ExchangeAcknowledged(TTolmSerialComm* comm, const TByteBuffer& frame) {
    for (int attempt = 0; attempt < 3; ++attempt)
        if (IsAcknowledgement(Exchange(comm, frame, kAckLength))) return true;
    return false;
}

bool TScan_Packet::Send_70_StartPacket(TTolmSerialComm* comm) { return ExchangeAcknowledged(comm, StartFrame()); }

bool TScan_Packet::Send_70_EndPacket(TTolmSerialComm* comm) { return ExchangeAcknowledged(comm, EndFrame()); }

bool TScan_Packet::Send_30_Quit(TTolmSerialComm* comm) { return ExchangeAcknowledged(comm, Request(kCmdQuit)); }

void TScan_Packet::SendACK(TTolmSerialComm* comm) { Send(comm, Request(kCmdAck)); }

bool TScan_Packet::Send_70_Packet(TTolmSerialComm* comm, TProgressBar* bar, TControl* panel) {
    for (int i = 0; i < scanimage::kBlockCount; ++i) {
        if (SkipBlock[i]) continue;
        const TByteBuffer& packet = BlockPacket[i];
        // Nothing loaded for this block: there is nothing to send.
        if (packet.IsEmpty()) return false;
        if (panel) {
            panel->SetCaption(std::to_string(i));
            panel->Repaint();
        }
        bool acknowledged = IsAcknowledgement(Exchange(comm, packet, kAckLength));
        for (int retry = 0; retry < 2 && !acknowledged; ++retry) {
            Wait(kRetryPauseMs);
            acknowledged = IsAcknowledgement(Exchange(comm, packet, kAckLength));
        }
        if (!acknowledged) return false;
        if (bar) bar->SetPosition(i);
    }
    return true;
}

}  // namespace tolm
