#pragma once

#include <memory>

#include "platform/music/AutoResetEvent.h"
#include "platform/music/IMusicBuffer.h"
#include "platform/music/Types.h"

namespace platform::music {

// The input side of an opened input port, obtained with IMusicPort::QueryMidiInput. Events
// that arrive are kept until read; the notification event is set whenever new ones arrive.
// Both calls may come from any thread; the port serialises them internally.
class IMidiInput {
public:
    virtual ~IMidiInput() = default;
    // Event set when input arrives; null stops the notification.
    virtual HRESULT SetReadNotificationHandle(std::shared_ptr<AutoResetEvent> event) = 0;
    // Flushes `buffer` and moves into it as many waiting events as fit, oldest first.
    // S_OK when at least one event was moved, S_FALSE when nothing was waiting.
    virtual HRESULT Read(IMusicBuffer& buffer) = 0;
};

}  // namespace platform::music
