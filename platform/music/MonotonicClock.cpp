#include "platform/music/MonotonicClock.h"

#include <algorithm>
#include <chrono>
#include <string_view>

#include "platform/music/ResultCodes.h"

namespace platform::music {

HRESULT MonotonicClock::GetTime(REFERENCE_TIME* time) {
    if (time == nullptr)
        return E_POINTER;
    using Ticks = std::chrono::duration<REFERENCE_TIME, std::ratio<1, 10'000'000>>;
    *time = std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
    return S_OK;
}

ClockEntry MonotonicClock::Entry() {
    ClockEntry entry;
    entry.info.dwSize = sizeof(DMUS_CLOCKINFO8);
    entry.info.ctType = DMUS_CLOCK_SYSTEM;
    entry.info.guidClock = GUID_MonotonicClock;
    constexpr std::u16string_view kDescription = u"System monotonic clock";
    std::copy(kDescription.begin(), kDescription.end(), entry.info.wszDescription.begin());
    entry.clock = std::make_shared<MonotonicClock>();
    return entry;
}

}  // namespace platform::music
