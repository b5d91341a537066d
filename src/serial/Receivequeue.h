#pragma once
// The multi-port component's ring of 1000 received chunks awaiting delivery.
// Not thread-safe by itself: the component's lock guards it.
//
// When all 1000 records are undelivered, a new chunk is dropped (the newest
// is lost, never an undelivered older one), so records keep their order and
// none is handed out twice.
#include <array>
#include <optional>

#include "serial/Receivepacket.h"

namespace tolm {

class TReceiveQueue {
public:
    static constexpr int kCapacity = 1000;

    // Copies the packet into the record at the write position, with Sequence
    // set to the number of undelivered records before it. False when the ring
    // is full and the packet was dropped.
    bool Push(const TReceivePacket& packet);
    // Takes the oldest undelivered record out of the ring.
    std::optional<TReceivePacket> Take();
    int Count() const { return count_; }

private:
    std::array<TReceivePacket, kCapacity> records_{};
    int writePos_ = 0;
    int readPos_ = 0;
    int count_ = 0;
};

}  // namespace tolm
