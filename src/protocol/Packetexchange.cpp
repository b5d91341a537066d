// The two exchange forms on the serial component, kept apart from the frame
// helpers so that those build and test without a serial line.
#include "protocol/Packetframe.h"
#include "serial/Tolmserialcomm.h"

namespace tolm {

TByteBuffer TPacketFrame::Exchange(TTolmSerialComm* comm, const TByteBuffer& frame, int expectedLength) const {
    if (!comm || frame.IsEmpty()) return {};
    return comm->SendByteReceiveByte(PortNumber, frame, ReplyTimeout, expectedLength);
}

int TPacketFrame::Send(TTolmSerialComm* comm, const TByteBuffer& frame) const {
    if (!comm || frame.IsEmpty()) return -1;
    return comm->SendByte(PortNumber, frame);
}

}  // namespace tolm
