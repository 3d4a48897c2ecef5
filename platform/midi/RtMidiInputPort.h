#pragma once

#include <cstdint>
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
    // `server`, when given, names the API's server now: 0 while none can be asked, otherwise a
    // number that changes with every new server.
    RtMidiInputPort(MidiApi api, std::string portName, const music::DMUS_PORTCAPS& caps,
                    std::function<std::uint64_t()> server = {});
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

    void Close();

    std::function<std::uint64_t()> server_;
    std::uint64_t openedOn_ = 0;  // the server the open port belongs to
    Arrival arrival_;
    std::unique_ptr<RtMidiIn> in_;
};

}  // namespace platform::midi
