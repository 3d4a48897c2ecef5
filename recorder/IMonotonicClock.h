#pragma once

#include <chrono>

namespace recorder {

// A clock that never steps: the recorder's delays and the player's timeline come from it, so
// setting the wall clock (by hand or by NTP) never shows in a song.
class IMonotonicClock {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~IMonotonicClock() = default;
    // Any thread.
    virtual TimePoint Now() const = 0;
};

// The system's steady clock.
class SteadyClock final : public IMonotonicClock {
public:
    TimePoint Now() const override { return std::chrono::steady_clock::now(); }
};

}  // namespace recorder
