#pragma once
// Writing with a deadline, and when a request counts as having left the port.
//
// A write returns when its bytes have left the port (the output queue has
// drained), bounded by the write time-out of 500 ms + 5 ms per byte; a write
// cut short by the time-out is reported as such. A reply time-out starts when
// the request has left: after the drain, and never earlier than the request's
// line time after the write began, because adapters and pseudo-terminals
// report "drained" before the bytes are really on the wire.
#include <chrono>
#include <cstdint>

#include "platform/Clock.h"
#include "platform/Serialdevice.h"
#include "platform/Serialsettings.h"

namespace tolm {

constexpr int kWriteTimeoutConstantMs = 500;
constexpr int kWriteTimeoutPerByteMs = 5;

// 500 ms + 5 ms per byte.
std::chrono::milliseconds WriteTimeout(int bytes);

// Time the bytes take on the wire at the line's speed and framing.
std::chrono::microseconds LineTime(int bytes, const TLineSettings& line);

struct TWriteOutcome {
    int Written = 0;        // bytes that left the port (or were accepted and not flushed)
    bool Complete = false;  // every byte left before the deadline
    IClock::time_point Began{};
    IClock::time_point LeftPort{};  // when the request counts as gone (see above)
};

// Writes count bytes, waits for the output queue to drain, both bounded by
// the write time-out. On time-out the bytes still queued are discarded, so
// nothing of a failed write goes out later.
TWriteOutcome WriteUntilDrained(ISerialDevice& device, IClock& clock, const uint8_t* data, int count,
                                const TLineSettings& line);

// How long an exchange waits for its reply from now: the time-out counted from
// when the request left the port (never from before now).
std::chrono::milliseconds ReplyWait(IClock::time_point now, IClock::time_point requestLeft, int timeoutMs);

}  // namespace tolm
