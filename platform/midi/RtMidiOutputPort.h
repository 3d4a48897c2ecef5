#pragma once

#include <memory>

#include "platform/midi/ExternalPort.h"

namespace platform::midi {

// An external MIDI destination: opened (our port connected to it) at Activate(TRUE), closed at
// Activate(FALSE). Messages of a played buffer go out at once. Its sink (for thru) may be used
// from any thread; sends are serialised by the port's own mutex.
class RtMidiOutputPort final : public ExternalPort {
public:
    RtMidiOutputPort(MidiApi api, std::string portName, const music::DMUS_PORTCAPS& caps);
    ~RtMidiOutputPort() override;

    music::HRESULT Activate(music::BOOL active) override;
    music::HRESULT PlayBuffer(music::IMusicBuffer& buffer) override;
    music::HRESULT QueryMidiSink(std::shared_ptr<music::IMidiSink>* sink) override;

private:
    class Sender;
    std::shared_ptr<Sender> sender_;
};

}  // namespace platform::midi
