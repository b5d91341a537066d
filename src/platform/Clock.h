#pragma once
// A clock the write and reply deadlines are measured with, so that their
// arithmetic can be tested with a clock that only moves when told to.
#include <chrono>

namespace tolm {

class IClock {
public:
    using time_point = std::chrono::steady_clock::time_point;
    using duration = std::chrono::steady_clock::duration;
    virtual ~IClock() = default;
    virtual time_point Now() = 0;
    virtual void SleepFor(duration d) = 0;
};

// The steady clock of the machine.
IClock& SystemClock();

}  // namespace tolm
