#pragma once
// The frame shared by every device family: 7E 7E, payload, XOR check byte, 7E.
// No length field and no byte stuffing. Also the big-endian number fields.
// Used by the host's protocol classes and by the emulated devices alike.
#include <cstdint>

#include "toolkit/ByteBuffer.h"

namespace tolm::frame {

constexpr uint8_t kFlag = 0x7E;
constexpr uint8_t kAck = 0x06;
constexpr uint8_t kAnnounce = 0x64;
// Offsets of the addressed header inside a frame (two flags before the payload).
constexpr int kDeviceTypeOffset = 2;
constexpr int kSenderOffset = 3;
constexpr int kReceiverOffset = 7;
constexpr int kCommandOffset = 11;

// XOR of the bytes, starting from 0.
uint8_t CheckByte(const uint8_t* data, int length);
// The frame of a payload: n + 4 bytes.
TByteBuffer Wrap(const TByteBuffer& payload);
// The addressed payload: type, sender 00 00 00 00, receiver, command, data.
TByteBuffer AddressedPayload(uint8_t deviceType, const TByteBuffer& receiver, uint8_t command,
                             const TByteBuffer& data = {});
// Same with the given sender (the device side answers with its own address).
TByteBuffer AddressedPayloadFrom(uint8_t deviceType, const TByteBuffer& sender, const TByteBuffer& receiver,
                                 uint8_t command, const TByteBuffer& data = {});

// Low 16 bits / 32-bit two's complement, most significant byte first.
TByteBuffer BigEndian16(int32_t value);
TByteBuffer BigEndian32(int32_t value);
uint32_t ReadBigEndian32(const TByteBuffer& bytes, int offset);
uint16_t ReadBigEndian16(const TByteBuffer& bytes, int offset);

// The addressed families' positive acknowledgement: exactly 14 bytes with 0x06
// at frame offset 11. Nothing else of the reply is examined.
bool IsAddressedAck(const TByteBuffer& reply);

}  // namespace tolm::frame
