#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/music/IMidiSink.h"

class RtMidiOut;

namespace platform::midi {

class JackServer;

// The program's own MIDI output port, "Tunestead", on every MIDI system present (JACK when a
// server runs, again on every server that starts later; the ALSA sequencer when the machine
// has one), so that other music programs can play what is played here. Send may be called
// from any thread and never waits on a server; a system that has gone away only drops what is
// sent to it.
class OwnMidiOutput final : public music::IMidiSink {
public:
    explicit OwnMidiOutput(std::shared_ptr<JackServer> jack);
    ~OwnMidiOutput() override;

    void Send(music::DWORD channelGroup, const music::BYTE* data,
              music::DWORD length) noexcept override;
    // Number of MIDI systems the port is open on now.
    std::size_t Systems();

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<RtMidiOut>> outs_;
    std::shared_ptr<JackServer> jack_;
};

}  // namespace platform::midi
