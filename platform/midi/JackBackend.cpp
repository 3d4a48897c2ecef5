#include "platform/midi/JackBackend.h"

#include <algorithm>

#include "platform/midi/JackOutputPort.h"
#include "platform/midi/JackServer.h"
#include "platform/midi/PortIdentity.h"
#include "platform/midi/RtMidiInputPort.h"
#include "platform/music/ResultCodes.h"

namespace platform::midi {

using music::HRESULT;

JackBackend::JackBackend(std::shared_ptr<JackServer> server) : server_(std::move(server)) {}

JackBackend::~JackBackend() = default;

std::vector<JackBackend::Listed> JackBackend::List() {
    server_->Refresh();
    const JackServer::Ports ports = server_->ListPorts();
    std::vector<Listed> listed;
    for (const std::string& name : ports.destinations)
        listed.push_back({ExternalPortCaps(MidiApi::Jack, music::DMUS_PC_OUTPUTCLASS, name), name});
    for (const std::string& name : ports.sources)
        listed.push_back({ExternalPortCaps(MidiApi::Jack, music::DMUS_PC_INPUTCLASS, name), name});
    return listed;
}

void JackBackend::ListPorts(std::vector<music::DMUS_PORTCAPS>& ports) {
    for (Listed& l : List())
        ports.push_back(l.caps);
}

HRESULT JackBackend::CreatePort(const music::GUID& portGuid, music::DMUS_PORTPARAMS8* params,
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
    params->dwValidParams = music::DMUS_PORTPARAMS_CHANNELGROUPS;
    params->dwChannelGroups = 1;
    if (found->caps.dwClass == music::DMUS_PC_INPUTCLASS) {
        // RtMidi would warn on stderr when asked to open an input with no server to open it on.
        std::weak_ptr<JackServer> server = server_;
        *port =
            std::make_unique<RtMidiInputPort>(MidiApi::Jack, found->name, found->caps, [server] {
                const auto s = server.lock();
                return s && s->Running() ? s->Generation() : std::uint64_t{0};
            });
    } else {
        *port = std::make_unique<JackOutputPort>(found->name, found->caps);
    }
    return music::S_OK;
}

}  // namespace platform::midi
