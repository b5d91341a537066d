#pragma once
// One received chunk of serial data together with where it came from.
#include <cstdint>
#include <string>

#include "toolkit/ByteBuffer.h"

namespace tolm {

struct TReceivePacket {
    int32_t ComPort = 0;
    std::string Settings;
    std::string Text;  // the received bytes as a counted text (may hold NUL bytes)
    int32_t Length = 0;
    int32_t Sequence = 0;  // undelivered records queued before this one (multi-port queue only)
    TByteBuffer Bytes;
};

}  // namespace tolm
