#include "platform/Clock.h"

#include <thread>

namespace tolm {

namespace {
class SteadyClock : public IClock {
public:
    time_point Now() override { return std::chrono::steady_clock::now(); }
    void SleepFor(duration d) override {
        if (d > duration::zero()) std::this_thread::sleep_for(d);
    }
};
}  // namespace

IClock& SystemClock() {
    static SteadyClock clock;
    return clock;
}

}  // namespace tolm
