#pragma once

#include "platform/music/Types.h"

namespace platform::music {

// Immediate delivery of one MIDI message to an output port, safe on any thread and never
// waiting for an application lock: what thru connections forward through. Obtained with
// IMusicPort::QueryMidiSink; it outlives its port and drops messages once the port is closed.
class IMidiSink {
public:
    virtual ~IMidiSink() = default;
    // channelGroup as in PackStructured (0 stands for group 1).
    virtual void Send(DWORD channelGroup, const BYTE* data, DWORD length) noexcept = 0;
};

}  // namespace platform::music
