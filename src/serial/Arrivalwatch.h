#pragma once
// When the bytes waiting on a port make a whole reply, or a whole chunk of
// unsolicited data. The polling threads ask this instead of taking whatever
// waits at a fixed pass, so a waiting exchange wakes as soon as its reply is
// in, and a reply that comes in pieces is still taken whole:
//
//  - a stated reply length: complete once that many bytes wait and the line
//    has then been quiet for two character times;
//  - otherwise, or while fewer bytes than stated have come: complete once the
//    line has been quiet for the settle gap, long enough that a USB adapter's
//    packet latency does not split a reply;
//  - a line that never goes quiet is taken as it stands one pass period after
//    its first byte, as the fixed 100 ms passes would have taken it.
//
// Only the count of bytes waiting is looked at. Nobody reads them before the
// verdict, so a count that grows marks an arrival, and a count that shrinks a
// purge or a read (the bytes then count as new). Not thread-safe by itself:
// the component's lock guards it.
#include <chrono>
#include <cstdint>

#include "platform/Clock.h"

namespace tolm {

// Quiet time that ends a reply of unstated length.
constexpr std::chrono::milliseconds kSettleGap{20};
// Longest a line that keeps sending is watched before its bytes are taken.
constexpr std::chrono::milliseconds kLongestSettle{100};
// Longest interval between two looks at a port whose bytes are not yet complete.
constexpr std::chrono::milliseconds kSettleSampleStep{5};

struct TSettleRule {
    int ExpectedLength = 0;                   // bytes the waiting caller accepts; 0 not stated
    std::chrono::microseconds CharTime{87};   // one character at the port's speed and framing
};

class TArrivalWatch {
public:
    using time_point = IClock::time_point;

    struct TVerdict {
        bool Complete = false;
        // When to look at the count again while bytes wait and are not complete;
        // time_point::max() when nothing waits (wait for data to arrive).
        time_point NextCheck = time_point::max();
    };

    // Takes in the count of bytes waiting at now and tells whether they are complete.
    TVerdict Observe(uint32_t waiting, time_point now, const TSettleRule& rule);
    // Forgets what was seen (after the bytes were read).
    void Reset();

    uint32_t Count() const { return count_; }
    time_point LastArrival() const { return lastChange_; }

private:
    uint32_t count_ = 0;
    time_point firstSeen_{};
    time_point lastChange_{};
};

}  // namespace tolm
