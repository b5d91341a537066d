#include "serial/Arrivalwatch.h"

#include <algorithm>

namespace tolm {

using namespace std::chrono;

void TArrivalWatch::Reset() {
    count_ = 0;
    firstSeen_ = lastChange_ = time_point{};
}

TArrivalWatch::TVerdict TArrivalWatch::Observe(uint32_t waiting, time_point now, const TSettleRule& rule) {
    if (waiting == 0) {
        Reset();
        return {};
    }
    if (count_ == 0 || waiting < count_) {
        firstSeen_ = lastChange_ = now;  // the first bytes, or new ones after a purge or read
    } else if (waiting != count_) {
        lastChange_ = now;
    }
    count_ = waiting;

    const auto charTime = std::max(rule.CharTime, microseconds(1));
    const auto quiet = now - lastChange_;
    const bool stated = rule.ExpectedLength > 0;
    const bool lengthReached = stated && count_ >= static_cast<uint32_t>(rule.ExpectedLength);

    if (lengthReached && quiet >= 2 * charTime) return {true, now};
    if (quiet >= kSettleGap) return {true, now};
    if (now - firstSeen_ >= kLongestSettle) return {true, now};

    time_point next;
    if (lengthReached) {
        next = lastChange_ + 2 * charTime;
    } else {
        // Look again soon after an arrival and less often the longer the line
        // has been quiet, so a pause costs few looks and resumed data is seen
        // within about the pause's own length.
        const IClock::duration floor = stated ? IClock::duration(charTime) : IClock::duration(milliseconds(1));
        next = now + std::clamp<IClock::duration>(quiet, floor, kSettleSampleStep);
        if (stated) {
            // The rest of the reply cannot come faster than the line carries it.
            next = std::max(next, lastChange_ + (rule.ExpectedLength - static_cast<int>(count_)) * charTime);
        }
        next = std::min(next, lastChange_ + kSettleGap);
    }
    next = std::min(next, firstSeen_ + kLongestSettle);
    return {false, next};
}

}  // namespace tolm
