#pragma once

#include <memory>

#include "platform/music/IKsControl.h"
#include "platform/music/IMidiInput.h"
#include "platform/music/IMidiSink.h"
#include "platform/music/IMusicBuffer.h"
#include "platform/music/IMusicThru.h"
#include "platform/music/IPortDownload.h"
#include "platform/music/IReferenceClock.h"
#include "platform/music/ISegmentPlayer.h"
#include "platform/music/ResultCodes.h"
#include "platform/music/Types.h"

namespace platform::music {

// One opened port. Output operations are used on output ports; a port answers E_NOTIMPL
// (or the call's own failure) for what it cannot do. Calls on one port do not overlap: the
// caller serialises them.
class IMusicPort {
public:
    virtual ~IMusicPort() = default;

    virtual HRESULT Activate(BOOL active) = 0;
    virtual HRESULT GetCaps(DMUS_PORTCAPS* caps) = 0;
    virtual HRESULT GetLatencyClock(std::shared_ptr<IReferenceClock>* clock) = 0;
    // Plays every event of the buffer at its time (at once for times not in the future).
    virtual HRESULT PlayBuffer(IMusicBuffer& buffer) = 0;

    // Optional interfaces: E_NOINTERFACE when the port does not offer them.
    virtual HRESULT QueryKsControl(std::shared_ptr<IKsControl>* control) = 0;
    virtual HRESULT QueryPortDownload(std::shared_ptr<IPortDownload>* download) = 0;
    // Segment playback with the port's own timing; ports without it keep this default.
    virtual HRESULT QuerySegmentPlayer(std::shared_ptr<ISegmentPlayer>* player) {
        if (player != nullptr)
            player->reset();
        return E_NOINTERFACE;
    }
    // Input ports: their events and thru connections. Output ports: immediate delivery for
    // thru. Ports without them keep these defaults.
    virtual HRESULT QueryMidiInput(std::shared_ptr<IMidiInput>* /*input*/) { return E_NOINTERFACE; }
    virtual HRESULT QueryThru(std::shared_ptr<IMusicThru>* /*thru*/) { return E_NOINTERFACE; }
    virtual HRESULT QueryMidiSink(std::shared_ptr<IMidiSink>* /*sink*/) { return E_NOINTERFACE; }

    virtual HRESULT Compact() = 0;
    virtual HRESULT GetChannelPriority(DWORD channelGroup, DWORD channel, DWORD* priority) = 0;
    virtual HRESULT SetChannelPriority(DWORD channelGroup, DWORD channel, DWORD priority) = 0;
    virtual HRESULT GetRunningStats(DMUS_SYNTHSTATS8* stats) = 0;
    virtual HRESULT GetFormat(WAVEFORMATEX* format, DWORD* formatSize, DWORD* bufferSize) = 0;
    virtual HRESULT GetNumChannelGroups(DWORD* count) = 0;
    virtual HRESULT SetNumChannelGroups(DWORD count) = 0;
};

}  // namespace platform::music
