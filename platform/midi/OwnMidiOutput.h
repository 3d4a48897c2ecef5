#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/music/IMidiSink.h"

class RtMidiOut;

namespace platform::midi {

// The program's own MIDI output port, "Tunestead", on every MIDI system present (JACK when a
// server runs, the ALSA sequencer when the machine has one), so that other music programs can
// play what is played here. Send may be called from any thread; a system that has gone away
// only drops what is sent to it.
class OwnMidiOutput final : public music::IMidiSink {
public:
    OwnMidiOutput();
    ~OwnMidiOutput() override;

    void Send(music::DWORD channelGroup, const music::BYTE* data,
              music::DWORD length) noexcept override;
    // Number of MIDI systems the port was opened on.
    std::size_t Systems() const { return outs_.size(); }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<RtMidiOut>> outs_;
};

}  // namespace platform::midi
