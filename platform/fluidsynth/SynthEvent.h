#pragma once

#include "platform/music/Types.h"

struct _fluid_synth_t;

namespace platform::fluidsynth {

class PatchMap;

// Plays one MIDI event on the synth at once; program changes go through `patches` (may be
// null) so that downloaded instruments answer their patches. Channel group g (1-based; 0 stands for
// group 1) owns MIDI channels 16*(g-1) .. 16*(g-1)+15; groups above `channelGroups` are not played.
// Any thread: FluidSynth's API is thread-safe.
void PlaySynthEvent(_fluid_synth_t* synth, PatchMap* patches, music::DWORD channelGroups,
                    music::DWORD channelGroup, const music::BYTE* bytes, music::DWORD length);

}  // namespace platform::fluidsynth
