#pragma once

#include "platform/music/ClockTypes.h"

namespace platform::music {

// The operating system's monotonic clock in 100-ns units; never goes back, not even when
// the wall clock is set. Any thread.
class MonotonicClock final : public IReferenceClock {
public:
    HRESULT GetTime(REFERENCE_TIME* time) override;
    // The clock with its description, as music objects list it.
    static ClockEntry Entry();
};

}  // namespace platform::music
