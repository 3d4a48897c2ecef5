#pragma once

#include <array>
#include <string_view>

namespace platform::midi {

// The MIDI systems external ports come from. Each is optional on a machine: the ALSA
// sequencer needs /dev/snd/seq, JACK a running server.
enum class MidiApi { AlsaSequencer, Jack };

struct MidiApiInfo {
    MidiApi api;
    std::string_view name;  // shown before each port's own name, and part of its identifier
};

constexpr std::array<MidiApiInfo, 2> kMidiApis{{
    {MidiApi::AlsaSequencer, "ALSA"},
    {MidiApi::Jack, "JACK"},
}};

constexpr std::string_view ApiName(MidiApi api) {
    for (const MidiApiInfo& info : kMidiApis)
        if (info.api == api)
            return info.name;
    return "MIDI";
}

// The client name of the program's own MIDI connections. Ports whose names start with it
// are the program's own and are never offered to it.
constexpr std::string_view kClientName = "Tunestead";

}  // namespace platform::midi
