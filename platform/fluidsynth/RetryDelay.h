#pragma once

#include <algorithm>
#include <chrono>

namespace platform::fluidsynth {

// The audio outputs' back-off after a lost server: first retry after 100 ms, never more than
// 2 s between attempts.
inline constexpr std::chrono::milliseconds kServerRetryFirst{100};
inline constexpr std::chrono::milliseconds kServerRetryCap{2000};

// The wait before each attempt to reach a lost audio server again: it doubles from `first`
// after every failure and never exceeds `cap`, so however long the outage, a server that comes
// back is reached again within `cap` (plus one attempt).
class RetryDelay {
public:
    using ms = std::chrono::milliseconds;
    constexpr RetryDelay(ms first, ms cap)
        : first_(first), cap_(std::max(first, cap)), next_(first) {}

    // The wait before the next attempt; the one after it is longer, up to the cap.
    constexpr ms Next() {
        const ms now = next_;
        next_ = next_ >= cap_ / 2 ? cap_ : next_ * 2;
        return now;
    }
    constexpr void Reset() { next_ = first_; }
    constexpr ms Cap() const { return cap_; }

private:
    ms first_;
    ms cap_;
    ms next_;
};

}  // namespace platform::fluidsynth
