#pragma once

#include <memory>
#include <vector>

#include "platform/music/IReferenceClock.h"
#include "platform/music/Types.h"

namespace platform::music {

// One channel message of a segment, at its offset from the segment's start.
struct TimedMessage {
    REFERENCE_TIME offset = 0;  // 100-ns units after the start
    DWORD channelGroup = 1;
    BYTE length = 0;  // 1 to 3
    BYTE bytes[3] = {};
};

// Plays a prepared sequence of messages on a port with the port's own timing (optional
// interface of a port). Calls on one port do not overlap.
class ISegmentPlayer {
public:
    virtual ~ISegmentPlayer() = default;
    // Starts the messages now; `*startTime` receives the start on GetClock's time base.
    virtual HRESULT Play(const std::vector<TimedMessage>& messages, REFERENCE_TIME* startTime) = 0;
    // Drops every message not played yet and silences the channels they were for.
    virtual HRESULT Stop() = 0;
    // The clock start times are measured on.
    virtual HRESULT GetClock(std::shared_ptr<IReferenceClock>* clock) = 0;
};

}  // namespace platform::music
