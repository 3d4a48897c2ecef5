#include "platform/fluidsynth/SegmentPlayer.h"

#include <fluidsynth.h>

#include <limits>

#include "platform/fluidsynth/AudioClock.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/fluidsynth/SynthSequencer.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

namespace {
constexpr music::REFERENCE_TIME kTicksPerMs = 10'000;
}

SegmentPlayer::SegmentPlayer(std::shared_ptr<SynthCore> core, music::DWORD channelGroups,
                             std::shared_ptr<PatchMap> patches)
    : core_(std::move(core)),
      channelGroups_(channelGroups),
      clock_(std::make_shared<AudioClock>()) {
    clock_->Follow(core_);
    source_ = core_->Sequencer().AddSource(std::move(patches));
}

SegmentPlayer::~SegmentPlayer() {
    // Events already scheduled keep playing: a segment sounds to its end unless stopped.
    core_->Sequencer().RemoveSource(source_);
}

music::HRESULT SegmentPlayer::Play(const std::vector<music::TimedMessage>& messages,
                                   music::REFERENCE_TIME* startTime) {
    SynthSequencer& sequencer = core_->Sequencer();
    if (!sequencer.Valid() || source_ < 0)
        return music::DMUS_E_SYNTHNOTCONFIGURED;
    const unsigned start = sequencer.NowMs();
    std::lock_guard lock(mutex_);
    for (const music::TimedMessage& m : messages) {
        const music::DWORD group = m.channelGroup == 0 ? 1 : m.channelGroup;
        if (group > channelGroups_ || m.length == 0 || m.offset < 0)
            continue;
        // The sequencer counts in 32-bit milliseconds: a message due past its range (after
        // about 49 days) would wrap round and play at once, so it is left out.
        const music::REFERENCE_TIME offsetMs = m.offset / kTicksPerMs;
        if (offsetMs > music::REFERENCE_TIME{std::numeric_limits<unsigned>::max() - start})
            continue;
        const int base = 16 * static_cast<int>(group - 1);
        const auto at = start + static_cast<unsigned>(offsetMs);
        sequencer.Schedule(source_, at, m.bytes, m.length, base);
        channels_.insert(base + (m.bytes[0] & 0x0F));
    }
    if (startTime != nullptr)
        *startTime = music::REFERENCE_TIME{start} * kTicksPerMs;
    // The sequencer runs with the rendering: an idle output resumes for the segment.
    core_->Wake();
    return music::S_OK;
}

music::HRESULT SegmentPlayer::Stop() {
    core_->Sequencer().CancelPending(source_);
    std::lock_guard lock(mutex_);
    for (const int channel : channels_)
        fluid_synth_all_notes_off(core_->Synth(), channel);
    channels_.clear();
    return music::S_OK;
}

music::HRESULT SegmentPlayer::GetClock(std::shared_ptr<music::IReferenceClock>* clock) {
    if (clock == nullptr)
        return music::E_POINTER;
    *clock = clock_;
    return music::S_OK;
}

}  // namespace platform::fluidsynth
