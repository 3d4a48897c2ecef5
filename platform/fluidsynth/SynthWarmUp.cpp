#include "platform/fluidsynth/SynthWarmUp.h"

#include <fluidsynth.h>

#include <utility>

#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

SynthWarmUp::SynthWarmUp(SynthCore::Config config, std::string soundFontPath)
    : config_(config), soundFontPath_(std::move(soundFontPath)) {
    thread_ = std::thread([this] {
        music::HRESULT hr = music::S_OK;
        std::shared_ptr<SynthCore> core = SynthCore::Create(config_, &hr);
        // A failure here is left for the caller to meet again on its own thread, where its
        // error text is reported.
        if (!core || music::Failed(core->LoadSoundFont(soundFontPath_)))
            return;
        fluid_sfont_t* sfont = fluid_synth_get_sfont(core->Synth(), 0);
        if (sfont != nullptr)
            presets_ = SoundFontCollection::ListPresets(sfont);
        core_ = std::move(core);
    });
}

SynthWarmUp::~SynthWarmUp() {
    Join();
}

void SynthWarmUp::Join() {
    std::lock_guard lock(mutex_);
    if (thread_.joinable())
        thread_.join();
}

std::shared_ptr<SynthCore> SynthWarmUp::Take(const SynthCore::Config& config,
                                             const std::string& soundFontPath) {
    Join();
    std::lock_guard lock(mutex_);
    if (!(config == config_) || soundFontPath != soundFontPath_)
        return nullptr;
    return std::exchange(core_, nullptr);
}

std::optional<std::vector<SoundFontCollection::Preset>> SynthWarmUp::Presets(
    const std::string& soundFontPath) {
    Join();
    std::lock_guard lock(mutex_);
    if (soundFontPath != soundFontPath_)
        return std::nullopt;
    return presets_;
}

}  // namespace platform::fluidsynth
