#pragma once

#include <array>
#include <map>
#include <mutex>

#include "platform/music/Types.h"

struct _fluid_synth_t;

namespace platform::fluidsynth {

// Renumbered instruments of one synthesizer: a program change that selects a downloaded
// patch (bank from the channel's last bank select, drum channels' patches with the drum flag)
// plays the preset the instrument came from instead. Used by the GUI thread (downloads, sends)
// and the input thread (thru) alike; its own mutex guards it, FluidSynth's guards the synth.
class PatchMap {
public:
    struct Target {
        int soundFontId;
        int bank;  // as fluid_synth_program_select takes it (bank offset included)
        int program;
    };

    static constexpr int kChannels = 256;

    void Set(music::DWORD patch, Target target);
    // Removes the patch; channels playing it answer their bank and program as before.
    void Remove(_fluid_synth_t* synth, music::DWORD patch);

    // Bank select (controller 0) seen on `channel`.
    void BankSelect(int channel, int bank);
    // A program change on `channel`: true when it selected a downloaded instrument (the event
    // is then handled), false when the synth should play it as usual.
    bool ProgramChange(_fluid_synth_t* synth, int channel, int program);

private:
    struct Channel {
        int bank = 0;
        music::DWORD mapped = 0;  // patch selected through the map
        bool isMapped = false;
    };
    music::DWORD PatchOf(int channel, int program) const;

    std::mutex mutex_;
    std::map<music::DWORD, Target> targets_;
    std::array<Channel, kChannels> channels_{};
};

}  // namespace platform::fluidsynth
