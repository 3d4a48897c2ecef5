#pragma once

#include <array>
#include <memory>
#include <string>
#include <vector>

#include "platform/music/IMusicPort.h"

namespace platform::fluidsynth {

class SynthCore;
class SynthSink;
class PatchMap;
class PortDownload;
class SynthDownload;
class LatencyClock;
class Renderer;
class SampleDownload;

// The built-in synthesizer port: one FluidSynth synthesizer whose channel group g (1-based;
// 0 stands for group 1) owns MIDI channels 16*(g-1) .. 16*(g-1)+15. Events of a played
// buffer reach the synth at once. The caller serialises calls on one port; FluidSynth's
// audio thread renders concurrently (its API is thread-safe).
class FluidSynthPort final : public music::IMusicPort {
public:
    struct Setup {
        music::DMUS_PORTCAPS caps;
        std::vector<std::string> drivers;  // empty: no audio output, render offline
        std::string soundFontPath;
        music::DWORD channelGroups = 1;
    };

    FluidSynthPort(Setup setup, std::shared_ptr<SynthCore> core);
    ~FluidSynthPort() override;

    music::HRESULT Activate(music::BOOL active) override;
    music::HRESULT GetCaps(music::DMUS_PORTCAPS* caps) override;
    music::HRESULT GetLatencyClock(std::shared_ptr<music::IReferenceClock>* clock) override;
    music::HRESULT PlayBuffer(music::IMusicBuffer& buffer) override;
    music::HRESULT QueryKsControl(std::shared_ptr<music::IKsControl>* control) override;
    music::HRESULT QueryPortDownload(std::shared_ptr<music::IPortDownload>* download) override;
    // Segments play through the synth's sequencer (SegmentPlayer).
    music::HRESULT QuerySegmentPlayer(std::shared_ptr<music::ISegmentPlayer>* player) override;
    music::HRESULT QueryMidiSink(std::shared_ptr<music::IMidiSink>* sink) override;
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

    // Offline rendering of this port's synth (see Renderer).
    std::shared_ptr<Renderer> GetRenderer() const;

private:
    void PlayEvent(music::DWORD channelGroup, const music::BYTE* bytes, music::DWORD length);
    // Index into priorities_, or -1 for a group or channel the port does not have.
    int PriorityIndex(music::DWORD channelGroup, music::DWORD channel) const;

    Setup setup_;
    std::shared_ptr<SynthCore> core_;
    std::shared_ptr<LatencyClock> clock_;
    bool active_ = false;
    // One priority per MIDI channel of the synth, in channel order.
    std::vector<music::DWORD> priorities_;
    std::shared_ptr<PatchMap> patches_;  // downloaded instruments, shared with sink and downloads
    std::shared_ptr<SynthSink> sink_;    // made on first request, shared with thru connections
    // Both kinds of download, made at the first query.
    std::shared_ptr<PortDownload> download_;
};

}  // namespace platform::fluidsynth
