#pragma once

#include <functional>
#include <memory>

#include "platform/midi/ExternalPort.h"
#include "platform/music/MidiInputQueue.h"
#include "platform/music/ThruRouter.h"

class RtMidiIn;

namespace platform::midi {

// An external MIDI source: opened (connected to our input) at Activate(TRUE). RtMidi's input
// thread (JACK's process thread, or the sequencer's reader) forwards each channel message
// through the thru connections and then queues it for the notification thread. System
// exclusive is kept; timing and active sensing are dropped.
class RtMidiInputPort final : public ExternalPort {
public:
    // `reachable`, when given, tells whether the API's server can be asked at all.
    RtMidiInputPort(MidiApi api, std::string portName, const music::DMUS_PORTCAPS& caps,
                    std::function<bool()> reachable = {});
    ~RtMidiInputPort() override;

    music::HRESULT Activate(music::BOOL active) override;
    music::HRESULT PlayBuffer(music::IMusicBuffer& buffer) override;
    music::HRESULT QueryMidiInput(std::shared_ptr<music::IMidiInput>* input) override;
    music::HRESULT QueryThru(std::shared_ptr<music::IMusicThru>* thru) override;

private:
    struct Arrival {
        std::shared_ptr<music::MidiInputQueue> queue = std::make_shared<music::MidiInputQueue>();
        std::shared_ptr<music::ThruRouter> thru = std::make_shared<music::ThruRouter>();
    };
    static void OnMessage(double deltaSeconds, std::vector<unsigned char>* message, void* user);

    std::function<bool()> reachable_;
    Arrival arrival_;
    std::unique_ptr<RtMidiIn> in_;
};

}  // namespace platform::midi
