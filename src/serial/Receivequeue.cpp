#include "serial/Receivequeue.h"

namespace tolm {

bool TReceiveQueue::Push(const TReceivePacket& packet) {
    if (count_ >= kCapacity) return false;
    TReceivePacket& slot = records_[static_cast<size_t>(writePos_)];
    slot.ComPort = packet.ComPort;
    slot.Settings = packet.Settings;
    slot.Text = packet.Text;
    slot.Bytes = packet.Bytes;
    slot.Length = packet.Length;
    slot.Sequence = count_;
    writePos_ = (writePos_ + 1) % kCapacity;
    ++count_;
    return true;
}

std::optional<TReceivePacket> TReceiveQueue::Take() {
    if (count_ == 0) return std::nullopt;
    TReceivePacket record = std::move(records_[static_cast<size_t>(readPos_)]);
    records_[static_cast<size_t>(readPos_)] = TReceivePacket{};
    readPos_ = (readPos_ + 1) % kCapacity;
    --count_;
    return record;
}

}  // namespace tolm
