#include "platform/fluidsynth/AudioClock.h"

#include <algorithm>
#include <string_view>

#include "platform/fluidsynth/SynthCore.h"
#include "platform/fluidsynth/SynthSequencer.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

namespace {
constexpr music::REFERENCE_TIME kTicksPerMs = 10'000;
}

music::REFERENCE_TIME AudioClock::Read() {
    music::REFERENCE_TIME now = offset_;
    if (auto core = core_.lock())
        now += music::REFERENCE_TIME{core->Sequencer().NowMs()} * kTicksPerMs;
    last_ = std::max(last_, now);
    return last_;
}

music::HRESULT AudioClock::GetTime(music::REFERENCE_TIME* time) {
    if (time == nullptr)
        return music::E_POINTER;
    std::lock_guard lock(mutex_);
    *time = Read();
    return music::S_OK;
}

void AudioClock::Follow(const std::shared_ptr<SynthCore>& core) {
    std::lock_guard lock(mutex_);
    offset_ = Read();
    core_ = core;
}

music::ClockEntry AudioClock::Entry(const std::shared_ptr<AudioClock>& self) const {
    music::ClockEntry entry;
    entry.info.dwSize = sizeof(music::DMUS_CLOCKINFO8);
    entry.info.ctType = music::DMUS_CLOCK_WAVE;
    entry.info.guidClock = kGuid;
    constexpr std::u16string_view kDescription = u"Built-in synthesizer audio clock";
    std::copy(kDescription.begin(), kDescription.end(), entry.info.wszDescription.begin());
    entry.clock = self;
    return entry;
}

}  // namespace platform::fluidsynth
