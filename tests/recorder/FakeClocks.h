#pragma once

// Clocks under the test's control: a recording clock set by hand, and a playback timer whose
// waits jump straight to their deadline (or, from a chosen point on the timeline, block until
// the stop is requested).

#include <chrono>
#include <mutex>
#include <vector>

#include "recorder/IMonotonicClock.h"
#include "recorder/IPlaybackTimer.h"

namespace tests::recorder {

using ::recorder::IMonotonicClock;
using ::recorder::IPlaybackTimer;
using ::recorder::StopSignal;
using std::chrono::milliseconds;

class ManualClock final : public IMonotonicClock {
public:
    TimePoint Now() const override { return now; }
    void Advance(milliseconds step) { now += step; }
    TimePoint now{std::chrono::hours(1000)};
};

class FakePlaybackTimer final : public IPlaybackTimer {
public:
    static constexpr milliseconds kNever = milliseconds::max();

    TimePoint Now() override {
        std::lock_guard lock(mutex_);
        return now_;
    }

    void WaitUntil(TimePoint deadline, const StopSignal& stop) override {
        {
            std::lock_guard lock(mutex_);
            waits_.push_back(Offset(deadline));
            if (holdFrom_ == kNever || Offset(deadline) < holdFrom_) {
                if (deadline > now_)
                    now_ = deadline;
                return;
            }
        }
        stop.WaitForRequest();
        std::lock_guard lock(mutex_);
        ++stoppedWaits_;
    }

    // Time passing outside the waits (sending, drawing).
    void Advance(milliseconds step) {
        std::lock_guard lock(mutex_);
        now_ += step;
    }
    // Waits whose deadline is at `offset` or later block until the stop.
    void HoldFrom(milliseconds offset) {
        std::lock_guard lock(mutex_);
        holdFrom_ = offset;
    }
    milliseconds Elapsed() {
        std::lock_guard lock(mutex_);
        return Offset(now_);
    }
    std::vector<milliseconds> Waits() {
        std::lock_guard lock(mutex_);
        return waits_;
    }
    int StoppedWaits() {
        std::lock_guard lock(mutex_);
        return stoppedWaits_;
    }

private:
    milliseconds Offset(TimePoint t) const {
        return std::chrono::duration_cast<milliseconds>(t - start_);
    }

    std::mutex mutex_;
    const TimePoint start_{std::chrono::hours(5)};
    TimePoint now_{start_};
    milliseconds holdFrom_{kNever};
    std::vector<milliseconds> waits_;
    int stoppedWaits_ = 0;
};

}  // namespace tests::recorder
