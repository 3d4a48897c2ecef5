#include "platform/midi/RtMidiSupport.h"

#include <unistd.h>

#include "platform/log/DebugOutput.h"

namespace platform::midi {

RtMidi::Api ToRtMidi(MidiApi api) {
    switch (api) {
        case MidiApi::AlsaSequencer:
            return RtMidi::LINUX_ALSA;
        case MidiApi::Jack:
            return RtMidi::UNIX_JACK;
    }
    return RtMidi::UNSPECIFIED;
}

void InstallErrorCallback(RtMidi& midi) {
    midi.setErrorCallback([](RtMidiError::Type, const std::string& text,
                             void*) { platform::OutputDebugString("MIDI: " + text); },
                          nullptr);
}

bool SequencerPresent() {
    return access("/dev/snd/seq", R_OK | W_OK) == 0;
}

std::optional<unsigned> FindPort(RtMidi& midi, const std::string& name) {
    try {
        const unsigned count = midi.getPortCount();
        for (unsigned i = 0; i < count; ++i)
            if (midi.getPortName(i) == name)
                return i;
    } catch (const RtMidiError& e) {
        platform::OutputDebugString("MIDI: " + e.getMessage());
    }
    return std::nullopt;
}

}  // namespace platform::midi
