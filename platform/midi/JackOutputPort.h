#pragma once

#include <memory>

#include "platform/midi/ExternalPort.h"

namespace platform::midi {

// Another program's JACK MIDI input: at Activate(TRUE) a JACK client of ours opens an output
// port and connects it there; Activate(FALSE) closes it. Sends (played buffers and thru) are
// queued and never wait on the server; the sink may be used from any thread.
class JackOutputPort final : public ExternalPort {
public:
    JackOutputPort(std::string portName, const music::DMUS_PORTCAPS& caps);
    ~JackOutputPort() override;

    music::HRESULT Activate(music::BOOL active) override;
    music::HRESULT PlayBuffer(music::IMusicBuffer& buffer) override;
    music::HRESULT QueryMidiSink(std::shared_ptr<music::IMidiSink>* sink) override;

private:
    class Sender;
    std::shared_ptr<Sender> sender_;
};

}  // namespace platform::midi
