#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/music/IPortBackend.h"

namespace platform::midi {

class JackServer;

// External MIDI ports of a JACK server: other programs' MIDI inputs as output ports and their
// MIDI outputs as input ports. With no server it lists nothing; a server that stops and
// another that starts later show in the next listing. Outputs are our own JACK clients that
// never wait on the server; inputs go through RtMidi. GUI thread.
class JackBackend final : public music::IPortBackend {
public:
    explicit JackBackend(std::shared_ptr<JackServer> server);
    ~JackBackend() override;

    void ListPorts(std::vector<music::DMUS_PORTCAPS>& ports) override;
    music::HRESULT CreatePort(const music::GUID& portGuid, music::DMUS_PORTPARAMS8* params,
                              std::unique_ptr<music::IMusicPort>* port) override;

private:
    struct Listed {
        music::DMUS_PORTCAPS caps;
        std::string name;
    };
    std::vector<Listed> List();

    std::shared_ptr<JackServer> server_;
};

}  // namespace platform::midi
