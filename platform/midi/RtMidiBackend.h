#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/midi/MidiApi.h"
#include "platform/music/IPortBackend.h"

class RtMidiIn;
class RtMidiOut;

namespace platform::midi {

// External MIDI ports of one API through RtMidi (the program uses it for the ALSA sequencer;
// JACK has JackBackend, whose sends never wait on the server): its MIDI destinations as output
// ports and its MIDI sources as input ports, the program's own ports left out. When the API is not
// available (no ALSA sequencer device, no JACK server) it lists nothing; construction never
// throws and never starts a server. Used on the GUI thread.
class RtMidiBackend final : public music::IPortBackend {
public:
    explicit RtMidiBackend(MidiApi api);
    ~RtMidiBackend() override;

    void ListPorts(std::vector<music::DMUS_PORTCAPS>& ports) override;
    music::HRESULT CreatePort(const music::GUID& portGuid, music::DMUS_PORTPARAMS8* params,
                              std::unique_ptr<music::IMusicPort>* port) override;

    // True when the API's objects could be made (the sequencer exists; JACK's objects exist
    // even without a server, which then shows as no ports).
    bool Available() const { return probeIn_ && probeOut_; }

private:
    struct Listed {
        music::DMUS_PORTCAPS caps;
        std::string name;
    };
    std::vector<Listed> List();

    MidiApi api_;
    // Probes used only to list ports; they open no port.
    std::unique_ptr<RtMidiIn> probeIn_;
    std::unique_ptr<RtMidiOut> probeOut_;
    // Set when the input probe reported an error (for JACK: no server) since List began.
    bool inputProbeFailed_ = false;
};

}  // namespace platform::midi
