#include "platform/midi/RtMidiBackend.h"

#include <algorithm>
#include <iterator>

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
        // Also notes that a call could not reach the API's server (see List).
        probeIn_->setErrorCallback(
            [](RtMidiError::Type, const std::string& text, void* self) {
                platform::OutputDebugString("MIDI: " + text);
                static_cast<RtMidiBackend*>(self)->inputProbeFailed_ = true;
            },
            this);
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
    if (!Available())
        return {};
    const auto add = [&](RtMidi& midi, music::DWORD portClass, std::vector<Listed>& to) {
        try {
            const unsigned count = midi.getPortCount();
            for (unsigned i = 0; i < count; ++i) {
                std::string name = midi.getPortName(i);
                if (name.empty() || IsOwnPort(name))
                    continue;
                to.push_back({ExternalPortCaps(api_, portClass, name), std::move(name)});
            }
        } catch (const RtMidiError& e) {
            platform::OutputDebugString("MIDI: " + e.getMessage());
        }
    };
    // RtMidi's JACK output object makes a new 16 KB ring buffer on every attempt to reach the
    // server and loses it when no server answers: once a second, that grew the idle player
    // by about 3 MB a minute. The input object's attempt costs nothing, so it goes first and
    // the output object is asked only when the input object reached the server.
    inputProbeFailed_ = false;
    std::vector<Listed> inputs;
    add(*probeIn_, music::DMUS_PC_INPUTCLASS, inputs);
    std::vector<Listed> listed;
    if (api_ != MidiApi::Jack || !inputProbeFailed_)
        add(*probeOut_, music::DMUS_PC_OUTPUTCLASS, listed);
    listed.insert(listed.end(), std::make_move_iterator(inputs.begin()),
                  std::make_move_iterator(inputs.end()));
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
