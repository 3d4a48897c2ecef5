#pragma once

#include <memory>
#include <string>

#include "platform/midi/MidiApi.h"
#include "platform/music/IMidiSink.h"
#include "platform/music/IMusicBuffer.h"
#include "platform/music/IMusicPort.h"

namespace platform::midi {

// What input and output ports of an external MIDI API share: their record, a steady latency
// clock, one channel group, no effects property (DMUS_E_UNKNOWN_PROPERTY), no downloads and
// no synthesizer queries.
class ExternalPort : public music::IMusicPort {
public:
    ExternalPort(MidiApi api, std::string portName, const music::DMUS_PORTCAPS& caps);

    music::HRESULT GetCaps(music::DMUS_PORTCAPS* caps) override;
    music::HRESULT GetLatencyClock(std::shared_ptr<music::IReferenceClock>* clock) override;
    music::HRESULT QueryKsControl(std::shared_ptr<music::IKsControl>* control) override;
    music::HRESULT QueryPortDownload(std::shared_ptr<music::IPortDownload>* download) override;
    music::HRESULT Compact() override;
    music::HRESULT GetChannelPriority(music::DWORD channelGroup, music::DWORD channel,
                                      music::DWORD* priority) override;
    music::HRESULT SetChannelPriority(music::DWORD channelGroup, music::DWORD channel,
                                      music::DWORD priority) override;
    music::HRESULT GetRunningStats(music::DMUS_SYNTHSTATS8* stats) override;
    music::HRESULT GetFormat(music::WAVEFORMATEX* format, music::DWORD* formatSize,
                             music::DWORD* bufferSize) override;
    music::HRESULT GetNumChannelGroups(music::DWORD* count) override;
    music::HRESULT SetNumChannelGroups(music::DWORD count) override;

protected:
    // Sends every event of `buffer` to `sink` in order; S_OK once the buffer is read.
    static music::HRESULT SendBuffer(music::IMusicBuffer& buffer, music::IMidiSink& sink);

    const MidiApi api_;
    const std::string portName_;  // the API's own name of the port opened
    const music::DMUS_PORTCAPS caps_;
};

}  // namespace platform::midi
