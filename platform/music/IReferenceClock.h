#pragma once

#include "platform/music/Types.h"

namespace platform::music {

// A port's clock. GetTime gives the earliest time at which the port can still play.
class IReferenceClock {
public:
    virtual ~IReferenceClock() = default;
    virtual HRESULT GetTime(REFERENCE_TIME* time) = 0;
};

}  // namespace platform::music
