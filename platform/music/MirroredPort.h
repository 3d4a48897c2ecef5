#pragma once

#include <memory>

#include "platform/music/IMidiSink.h"
#include "platform/music/IMusicPort.h"

namespace platform::music {

// An output port whose played messages also go to a mirror sink (the program's own MIDI
// output), after the port has played them. Everything else is the port's own. Thru delivery
// (the port's sink) is not mirrored, so input never echoes back out.
class MirroredPort final : public IMusicPort {
public:
    MirroredPort(std::unique_ptr<IMusicPort> port, std::shared_ptr<IMidiSink> mirror);

    HRESULT Activate(BOOL active) override { return port_->Activate(active); }
    HRESULT GetCaps(DMUS_PORTCAPS* caps) override { return port_->GetCaps(caps); }
    HRESULT GetLatencyClock(std::shared_ptr<IReferenceClock>* clock) override {
        return port_->GetLatencyClock(clock);
    }
    HRESULT PlayBuffer(IMusicBuffer& buffer) override;
    HRESULT QueryKsControl(std::shared_ptr<IKsControl>* control) override {
        return port_->QueryKsControl(control);
    }
    HRESULT QueryPortDownload(std::shared_ptr<IPortDownload>* download) override {
        return port_->QueryPortDownload(download);
    }
    HRESULT QueryMidiInput(std::shared_ptr<IMidiInput>* input) override {
        return port_->QueryMidiInput(input);
    }
    HRESULT QueryThru(std::shared_ptr<IMusicThru>* thru) override { return port_->QueryThru(thru); }
    HRESULT QueryMidiSink(std::shared_ptr<IMidiSink>* sink) override {
        return port_->QueryMidiSink(sink);
    }
    HRESULT Compact() override { return port_->Compact(); }
    HRESULT GetChannelPriority(DWORD group, DWORD channel, DWORD* priority) override {
        return port_->GetChannelPriority(group, channel, priority);
    }
    HRESULT SetChannelPriority(DWORD group, DWORD channel, DWORD priority) override {
        return port_->SetChannelPriority(group, channel, priority);
    }
    HRESULT GetRunningStats(DMUS_SYNTHSTATS8* stats) override {
        return port_->GetRunningStats(stats);
    }
    HRESULT GetFormat(WAVEFORMATEX* format, DWORD* formatSize, DWORD* bufferSize) override {
        return port_->GetFormat(format, formatSize, bufferSize);
    }
    HRESULT GetNumChannelGroups(DWORD* count) override { return port_->GetNumChannelGroups(count); }
    HRESULT SetNumChannelGroups(DWORD count) override { return port_->SetNumChannelGroups(count); }

private:
    std::unique_ptr<IMusicPort> port_;
    std::shared_ptr<IMidiSink> mirror_;
};

}  // namespace platform::music
