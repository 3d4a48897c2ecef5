#pragma once

#include <memory>
#include <mutex>
#include <set>

#include "platform/music/ISegmentPlayer.h"

namespace platform::fluidsynth {

class AudioClock;
class PatchMap;
class SynthCore;

// Segment playback on the built-in synthesizer: messages go into the synth's sequencer
// at their offsets from now in audio time, so they play in time whether the synth is
// rendered by an audio driver or offline. Channel group g plays on MIDI channels
// 16*(g-1) .. 16*(g-1)+15; groups the port does not have are skipped. Each player sends
// as its own source, so stopping one leaves the others' pending events alone. Program
// changes select the instruments downloaded to the port (`patches`, may be null).
class SegmentPlayer final : public music::ISegmentPlayer {
public:
    SegmentPlayer(std::shared_ptr<SynthCore> core, music::DWORD channelGroups,
                  std::shared_ptr<PatchMap> patches = nullptr);
    ~SegmentPlayer() override;

    music::HRESULT Play(const std::vector<music::TimedMessage>& messages,
                        music::REFERENCE_TIME* startTime) override;
    music::HRESULT Stop() override;
    // The synth's audio time (its sequencer's milliseconds, in 100-ns units).
    music::HRESULT GetClock(std::shared_ptr<music::IReferenceClock>* clock) override;

private:
    std::shared_ptr<SynthCore> core_;
    music::DWORD channelGroups_;
    std::shared_ptr<AudioClock> clock_;
    std::mutex mutex_;
    std::set<int> channels_;  // MIDI channels scheduled since the last Stop
    short source_ = -1;       // this player's events in the sequencer
};

}  // namespace platform::fluidsynth
