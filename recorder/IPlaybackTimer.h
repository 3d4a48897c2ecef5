#pragma once

#include <chrono>

#include "recorder/StopSignal.h"

namespace recorder {

// The player's sense of time: where it is on the song's timeline and how it waits for the
// next event. Player thread.
class IPlaybackTimer {
public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~IPlaybackTimer() = default;
    virtual TimePoint Now() = 0;
    // Returns at `deadline` or as soon as `stop` is requested, whichever comes first.
    virtual void WaitUntil(TimePoint deadline, const StopSignal& stop) = 0;
};

// The steady clock, with the wait on the stop signal itself.
class SteadyPlaybackTimer final : public IPlaybackTimer {
public:
    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    void WaitUntil(TimePoint deadline, const StopSignal& stop) override {
        stop.WaitUntil(deadline);
    }
};

}  // namespace recorder
