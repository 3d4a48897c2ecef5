#pragma once

#include <chrono>

#include "platform/music/Types.h"

namespace platform::music {

// Now on the steady clock in 100-ns units: the time base of every port clock and input stamp.
inline REFERENCE_TIME SteadyNow() {
    using Ticks = std::chrono::duration<REFERENCE_TIME, std::ratio<1, 10'000'000>>;
    return std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace platform::music
