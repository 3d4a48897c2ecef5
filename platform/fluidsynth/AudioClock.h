#pragma once

#include <memory>
#include <mutex>

#include "platform/music/ClockTypes.h"

namespace platform::fluidsynth {

class SynthCore;

// The built-in synthesizer's audio clock: time advances with the samples its synth
// renders (through the audio driver, or offline), in 100-ns units. It follows the most
// recently created port's synth; a new synth continues from where the previous one left
// off, so the clock never goes back. Before any synth exists it stands at 0. Any thread.
class AudioClock final : public music::IReferenceClock {
public:
    // {6C4E2B19-8F3D-4A6B-B2E1-0D9C7A5E3F42}
    static constexpr music::GUID kGuid{
        0x6C4E2B19, 0x8F3D, 0x4A6B, {0xB2, 0xE1, 0x0D, 0x9C, 0x7A, 0x5E, 0x3F, 0x42}};

    music::HRESULT GetTime(music::REFERENCE_TIME* time) override;
    void Follow(const std::shared_ptr<SynthCore>& core);
    // The clock with its description, as the backend lists it.
    music::ClockEntry Entry(const std::shared_ptr<AudioClock>& self) const;

private:
    music::REFERENCE_TIME Read();

    std::mutex mutex_;
    std::weak_ptr<SynthCore> core_;
    music::REFERENCE_TIME offset_ = 0;  // time reached by the synths followed before
    music::REFERENCE_TIME last_ = 0;
};

}  // namespace platform::fluidsynth
