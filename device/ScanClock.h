#pragma once

#include <chrono>
#include <stop_token>

namespace device {

// The key-bed thread's time: real time in the program, a test's own where the schedule itself
// is under test. Called on the key-bed thread only.
class ScanClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~ScanClock() = default;

    virtual TimePoint Now() = 0;
    // Returns at `deadline`, or earlier once `stop` is requested; true when stop was requested.
    virtual bool WaitUntil(TimePoint deadline, std::stop_token stop) = 0;

    // The steady clock, waiting on a condition variable that a stop request wakes.
    static ScanClock& Steady();
};

}  // namespace device
