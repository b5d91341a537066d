#include "protocol/Frame.h"

namespace tolm::frame {

uint8_t CheckByte(const uint8_t* data, int length) {
    uint8_t acc = 0;
    for (int i = 0; i < length; ++i) acc ^= data[i];
    return acc;
}

TByteBuffer Wrap(const TByteBuffer& payload) {
    const int n = payload.Length();
    TByteBuffer out(n + 4);
    out[0] = kFlag;
    out[1] = kFlag;
    for (int i = 0; i < n; ++i) out.data()[i + 2] = payload.data()[i];
    out[n + 2] = CheckByte(payload.data(), n);
    out[n + 3] = kFlag;
    return out;
}

TByteBuffer AddressedPayloadFrom(uint8_t deviceType, const TByteBuffer& sender, const TByteBuffer& receiver,
                                 uint8_t command, const TByteBuffer& data) {
    TByteBuffer payload;
    payload.Append(deviceType);
    for (int i = 0; i < 4; ++i) payload.Append(sender[i]);
    for (int i = 0; i < 4; ++i) payload.Append(receiver[i]);
    payload.Append(command);
    payload.Append(data);
    return payload;
}

TByteBuffer AddressedPayload(uint8_t deviceType, const TByteBuffer& receiver, uint8_t command,
                             const TByteBuffer& data) {
    return AddressedPayloadFrom(deviceType, TByteBuffer{0, 0, 0, 0}, receiver, command, data);
}

TByteBuffer BigEndian16(int32_t value) {
    auto v = static_cast<uint32_t>(value);
    return TByteBuffer{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
}

TByteBuffer BigEndian32(int32_t value) {
    auto v = static_cast<uint32_t>(value);
    return TByteBuffer{static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                       static_cast<uint8_t>(v)};
}

uint32_t ReadBigEndian32(const TByteBuffer& b, int offset) {
    return (uint32_t{b[offset]} << 24) | (uint32_t{b[offset + 1]} << 16) | (uint32_t{b[offset + 2]} << 8) |
           uint32_t{b[offset + 3]};
}

uint16_t ReadBigEndian16(const TByteBuffer& b, int offset) {
    return static_cast<uint16_t>((b[offset] << 8) | b[offset + 1]);
}

bool IsAddressedAck(const TByteBuffer& reply) { return reply.Length() == 14 && reply[kCommandOffset] == kAck; }

}  // namespace tolm::frame
