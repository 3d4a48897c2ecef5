#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace platform::fluidsynth {

class SynthCore;

// Offline rendering of one port's synthesizer, for tests and tools. Works while the port
// runs without an audio driver (a backend whose driver list is empty); keeps the synth
// alive after the port is gone. Not for use while another thread renders the same port.
class Renderer {
public:
    explicit Renderer(std::shared_ptr<SynthCore> core);

    // The next `frames` stereo frames, interleaved left/right, as floats in [-1, 1]; empty
    // while an audio driver plays the synth.
    std::vector<float> Render(std::size_t frames);
    int SampleRate() const;

private:
    std::shared_ptr<SynthCore> core_;
};

}  // namespace platform::fluidsynth
