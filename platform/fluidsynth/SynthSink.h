#pragma once

#include <atomic>
#include <memory>

#include "platform/music/IMidiSink.h"

namespace platform::fluidsynth {

class SynthCore;
class PatchMap;

// Thru delivery into the built-in synthesizer, straight from the input thread: FluidSynth's
// own lock serialises it with the GUI's sends, no application lock is taken. Plays only while
// its port is active; keeps the synth alive after the port is gone.
class SynthSink final : public music::IMidiSink {
public:
    SynthSink(std::shared_ptr<SynthCore> core, std::shared_ptr<PatchMap> patches,
              music::DWORD channelGroups);

    void Send(music::DWORD channelGroup, const music::BYTE* data,
              music::DWORD length) noexcept override;

    // GUI thread, from the port.
    void SetOpen(bool open) { open_ = open; }
    void SetChannelGroups(music::DWORD groups) { channelGroups_ = groups; }

private:
    std::shared_ptr<SynthCore> core_;
    std::shared_ptr<PatchMap> patches_;
    std::atomic<bool> open_{false};
    std::atomic<music::DWORD> channelGroups_;
};

}  // namespace platform::fluidsynth
