#pragma once

#include "platform/music/Types.h"

namespace platform::music {

class IMusicPort;

// Thru connections of an opened input port, obtained with IMusicPort::QueryThru: channel
// messages arriving on (source group, source channel) are forwarded by the platform to the
// destination port on (destination group, destination channel), on the input's own thread.
class IMusicThru {
public:
    virtual ~IMusicThru() = default;
    // Makes (destination non-null) or removes (null) one connection. A destination that
    // cannot take immediate messages gives DMUS_E_PORT_NOT_RENDER.
    virtual HRESULT ThruChannel(DWORD sourceGroup, DWORD sourceChannel, DWORD destinationGroup,
                                DWORD destinationChannel, IMusicPort* destination) = 0;
};

}  // namespace platform::music
