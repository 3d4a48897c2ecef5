#pragma once

// RtMidi glue shared by the backend and its ports. Includes <RtMidi.h>: for platform/midi's
// own sources only.

#include <RtMidi.h>

#include <optional>
#include <string>

#include "platform/midi/MidiApi.h"

namespace platform::midi {

RtMidi::Api ToRtMidi(MidiApi api);

// Routes RtMidi's warnings and errors to the debug output instead of stderr or a throw on
// some other thread.
void InstallErrorCallback(RtMidi& midi);

// True when the machine has an ALSA sequencer to open. Asking RtMidi (and alsa-lib) without
// one prints errors on stderr.
bool SequencerPresent();

// Index of the port named `name` among `midi`'s ports now, if it is still there.
std::optional<unsigned> FindPort(RtMidi& midi, const std::string& name);

}  // namespace platform::midi
