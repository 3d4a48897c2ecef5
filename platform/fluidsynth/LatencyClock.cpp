#include "platform/fluidsynth/LatencyClock.h"

#include <chrono>

#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

music::HRESULT LatencyClock::GetTime(music::REFERENCE_TIME* time) {
    if (time == nullptr)
        return music::E_POINTER;
    using Ticks = std::chrono::duration<music::REFERENCE_TIME, std::ratio<1, 10'000'000>>;
    *time = std::chrono::duration_cast<Ticks>(std::chrono::steady_clock::now().time_since_epoch())
                .count();
    return music::S_OK;
}

}  // namespace platform::fluidsynth
