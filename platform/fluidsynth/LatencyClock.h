#pragma once

#include "platform/music/IReferenceClock.h"

namespace platform::fluidsynth {

// The port's latency clock. Events go to the synthesizer the moment they are played, so the
// earliest time the port can play is now: the steady clock in 100-ns units.
class LatencyClock final : public music::IReferenceClock {
public:
    music::HRESULT GetTime(music::REFERENCE_TIME* time) override;
};

}  // namespace platform::fluidsynth
