#include "platform/fluidsynth/PatchMap.h"

#include <fluidsynth.h>

#include "platform/music/IInstrument.h"

namespace platform::fluidsynth {

using music::DWORD;

namespace {
// MIDI channel 10 of every group is a drum channel; FluidSynth plays it from bank 128.
constexpr int kDrumBank = 128;
bool IsDrumChannel(int channel) {
    return channel % 16 == 9;
}
}  // namespace

DWORD PatchMap::PatchOf(int channel, int program) const {
    if (IsDrumChannel(channel))
        return music::F_INSTRUMENT_DRUMS | DWORD(program & 0x7F);
    return music::MakePatch(DWORD(channels_[std::size_t(channel)].bank), 0, DWORD(program), false);
}

void PatchMap::Set(DWORD patch, Target target) {
    std::lock_guard lock(mutex_);
    targets_[patch] = target;
}

void PatchMap::Remove(fluid_synth_t* synth, DWORD patch) {
    std::lock_guard lock(mutex_);
    targets_.erase(patch);
    for (int channel = 0; channel < kChannels; ++channel) {
        Channel& c = channels_[std::size_t(channel)];
        if (!c.isMapped || c.mapped != patch)
            continue;
        c.isMapped = false;
        if (channel >= fluid_synth_count_midi_channels(synth))
            continue;
        fluid_synth_bank_select(synth, channel, IsDrumChannel(channel) ? kDrumBank : c.bank);
        fluid_synth_program_change(synth, channel, int(patch & 0x7F));
    }
}

void PatchMap::BankSelect(int channel, int bank) {
    if (channel < 0 || channel >= kChannels)
        return;
    std::lock_guard lock(mutex_);
    channels_[std::size_t(channel)].bank = bank & 0x7F;
}

bool PatchMap::ProgramChange(fluid_synth_t* synth, int channel, int program) {
    if (channel < 0 || channel >= kChannels)
        return false;
    std::lock_guard lock(mutex_);
    Channel& c = channels_[std::size_t(channel)];
    const DWORD patch = PatchOf(channel, program);
    if (const auto it = targets_.find(patch); it != targets_.end()) {
        const Target& t = it->second;
        if (fluid_synth_program_select(synth, channel, t.soundFontId, t.bank, t.program) ==
            FLUID_OK) {
            c.isMapped = true;
            c.mapped = patch;
            return true;
        }
    }
    if (c.isMapped) {
        // Selecting the preset moved the channel's bank; give it back its own.
        fluid_synth_bank_select(synth, channel, IsDrumChannel(channel) ? kDrumBank : c.bank);
        c.isMapped = false;
    }
    return false;
}

}  // namespace platform::fluidsynth
