#include "platform/midi/RtMidiBackend.h"

#include <algorithm>

#include "platform/log/DebugOutput.h"
#include "platform/midi/PortIdentity.h"
#include "platform/midi/RtMidiInputPort.h"
#include "platform/midi/RtMidiOutputPort.h"
#include "platform/midi/RtMidiSupport.h"
#include "platform/music/ResultCodes.h"

namespace platform::midi {

using music::HRESULT;

RtMidiBackend::RtMidiBackend(MidiApi api) : api_(api) {
    if (api == MidiApi::AlsaSequencer && !SequencerPresent()) {
        platform::OutputDebugString("ALSA MIDI is not available: no sequencer device");
        return;
    }
    // Each object is made on its own: an API that is missing throws here (the ALSA sequencer
    // without /dev/snd/seq) and must only leave this backend empty.
    try {
        probeIn_ = std::make_unique<RtMidiIn>(ToRtMidi(api), std::string(kClientName));
        InstallErrorCallback(*probeIn_);
        probeOut_ = std::make_unique<RtMidiOut>(ToRtMidi(api), std::string(kClientName));
        InstallErrorCallback(*probeOut_);
    } catch (const RtMidiError& e) {
        probeIn_.reset();
        probeOut_.reset();
        platform::OutputDebugString(std::string(ApiName(api)) +
                                    " MIDI is not available: " + e.getMessage());
    }
}

RtMidiBackend::~RtMidiBackend() = default;

std::vector<RtMidiBackend::Listed> RtMidiBackend::List() {
    std::vector<Listed> listed;
    if (!Available())
        return listed;
    const auto add = [&](RtMidi& midi, music::DWORD portClass) {
        try {
            const unsigned count = midi.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string name = midi.getPortName(i);
                if (name.empty() || IsOwnPort(name))
                    continue;
                listed.push_back({ExternalPortCaps(api_, portClass, name), std::move(name)});
            }
        } catch (const RtMidiError& e) {
            platform::OutputDebugString("MIDI: " + e.getMessage());
        }
    };
    add(*probeOut_, music::DMUS_PC_OUTPUTCLASS);
    add(*probeIn_, music::DMUS_PC_INPUTCLASS);
    return listed;
}

void RtMidiBackend::ListPorts(std::vector<music::DMUS_PORTCAPS>& ports) {
    for (Listed& l : List())
        ports.push_back(l.caps);
}

HRESULT RtMidiBackend::CreatePort(const music::GUID& portGuid, music::DMUS_PORTPARAMS8* params,
                                  std::unique_ptr<music::IMusicPort>* port) {
    if (params == nullptr || port == nullptr)
        return music::E_POINTER;
    if (params->dwSize != sizeof(music::DMUS_PORTPARAMS8))
        return music::E_INVALIDARG;
    std::vector<Listed> listed = List();
    const auto found = std::find_if(listed.begin(), listed.end(),
                                    [&](const Listed& l) { return l.caps.guidPort == portGuid; });
    if (found == listed.end())
        return music::E_INVALIDARG;
    // External ports have one channel group and no voices of their own.
    params->dwValidParams = music::DMUS_PORTPARAMS_CHANNELGROUPS;
    params->dwChannelGroups = 1;
    if (found->caps.dwClass == music::DMUS_PC_INPUTCLASS)
        *port = std::make_unique<RtMidiInputPort>(api_, found->name, found->caps);
    else
        *port = std::make_unique<RtMidiOutputPort>(api_, found->name, found->caps);
    return music::S_OK;
}

}  // namespace platform::midi
