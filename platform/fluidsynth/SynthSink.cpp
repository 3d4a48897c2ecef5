#include "platform/fluidsynth/SynthSink.h"

#include "platform/fluidsynth/SynthCore.h"

namespace platform::fluidsynth {

SynthSink::SynthSink(std::shared_ptr<SynthCore> core, std::shared_ptr<PatchMap> patches,
                     music::DWORD channelGroups)
    : core_(std::move(core)), patches_(std::move(patches)), channelGroups_(channelGroups) {}

void SynthSink::Send(music::DWORD channelGroup, const music::BYTE* data,
                     music::DWORD length) noexcept {
    if (!open_)
        return;
    core_->Play(patches_.get(), channelGroups_, channelGroup, data, length);
    // An idle output resumes only after the event is in the synth.
    core_->Wake();
}

}  // namespace platform::fluidsynth
