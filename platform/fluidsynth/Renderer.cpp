#include "platform/fluidsynth/Renderer.h"

#include "platform/fluidsynth/SynthCore.h"

namespace platform::fluidsynth {

Renderer::Renderer(std::shared_ptr<SynthCore> core) : core_(std::move(core)) {}

std::vector<float> Renderer::Render(std::size_t frames) {
    return core_->Render(frames);
}

int Renderer::SampleRate() const {
    return core_->SampleRate();
}

}  // namespace platform::fluidsynth
