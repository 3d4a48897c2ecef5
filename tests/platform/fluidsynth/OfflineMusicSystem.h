#pragma once

#include <memory>
#include <vector>

#include "platform/music/MusicObject.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"

namespace tests::fluidsynth {

// Music objects over one offline synthesizer backend. `backend` observes the backend of
// the latest music object (owned by that music object).
class OfflineMusicSystem final : public IMusicSystem {
public:
    HRESULT CreateMusic(std::unique_ptr<IMusic>* music) override {
        auto owned = std::make_unique<FluidSynthBackend>(OfflineOptions());
        backend = owned.get();
        std::vector<std::unique_ptr<IPortBackend>> backends;
        backends.push_back(std::move(owned));
        *music = std::make_unique<MusicObject>(std::move(backends));
        return S_OK;
    }
    FluidSynthBackend* backend = nullptr;
};

}  // namespace tests::fluidsynth
