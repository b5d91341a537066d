#include "serial/Linetiming.h"

#include <algorithm>

namespace tolm {

using namespace std::chrono;

namespace {
// Longest single pause while waiting for room or for the queue to drain, so a
// queue that empties early is noticed soon.
constexpr auto kPollStep = milliseconds(5);
// Shortest pause while the output queue drains.
constexpr auto kMinDrainStep = microseconds(200);

int MsUntil(IClock::time_point now, IClock::time_point deadline) {
    if (deadline <= now) return 0;
    return static_cast<int>(duration_cast<milliseconds>(deadline - now + microseconds(999)).count());
}
}  // namespace

milliseconds WriteTimeout(int bytes) {
    return milliseconds(kWriteTimeoutConstantMs + kWriteTimeoutPerByteMs * std::max(bytes, 0));
}

microseconds LineTime(int bytes, const TLineSettings& line) {
    if (bytes <= 0 || line.BaudRate <= 0) return microseconds(0);
    // half bits x bytes x 1e6 / (2 x baud), rounded up
    int64_t halfBits = static_cast<int64_t>(line.HalfBitsPerChar()) * bytes;
    int64_t denominator = 2LL * line.BaudRate;
    return microseconds((halfBits * 1'000'000 + denominator - 1) / denominator);
}

TWriteOutcome WriteUntilDrained(ISerialDevice& device, IClock& clock, const uint8_t* data, int count,
                                const TLineSettings& line) {
    TWriteOutcome out;
    out.Began = clock.Now();
    const auto deadline = out.Began + WriteTimeout(count);

    // Hand the bytes to the device as its output queue takes them.
    int accepted = 0;
    while (accepted < count) {
        int n = device.WriteSome(data + accepted, count - accepted);
        if (n < 0) {
            out.Written = accepted;
            out.LeftPort = clock.Now();
            return out;
        }
        accepted += n;
        if (accepted == count) break;
        auto now = clock.Now();
        if (now >= deadline) break;
        int step = std::min(MsUntil(now, deadline), static_cast<int>(kPollStep.count()));
        // A line held by XOFF reports room yet takes nothing: pause instead of spinning.
        if (n == 0 && device.WaitWritable(step)) clock.SleepFor(milliseconds(std::min(step, 1)));
    }

    // Wait until the queue has drained or the deadline passes.
    int queued = 0;
    while (true) {
        queued = device.OutputQueued();
        if (queued <= 0) {  // drained, or the device cannot tell
            queued = 0;
            break;
        }
        auto now = clock.Now();
        if (now >= deadline) break;
        // The queued bytes need their line time to go out: look again about
        // then, so the departure is noticed within a fraction of a millisecond
        // rather than a whole polling step late.
        IClock::duration drain = std::clamp<IClock::duration>(LineTime(queued, line), kMinDrainStep, kPollStep);
        clock.SleepFor(std::min<IClock::duration>(deadline - now, drain));
    }

    if (queued > 0 || accepted < count) {
        // Cut short: what has not gone out yet must not trickle out later.
        device.Purge(PURGE_TXCLEAR);
        out.Written = std::max(accepted - queued, 0);
        out.LeftPort = clock.Now();
        return out;
    }
    out.Written = count;
    out.Complete = true;
    out.LeftPort = std::max(clock.Now(), out.Began + duration_cast<IClock::duration>(LineTime(count, line)));
    return out;
}

milliseconds ReplyWait(IClock::time_point now, IClock::time_point requestLeft, int timeoutMs) {
    if (timeoutMs <= 0) return milliseconds(0);
    auto start = std::max(now, requestLeft);
    auto end = start + milliseconds(timeoutMs);
    return duration_cast<milliseconds>(end - now + microseconds(999));
}

}  // namespace tolm
