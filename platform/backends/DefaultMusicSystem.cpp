#include "platform/backends/DefaultMusicSystem.h"

#include <vector>

#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/music/MusicObject.h"
#include "platform/music/ResultCodes.h"

namespace platform {
namespace {

using music::HRESULT;
using music::IPortBackend;

// The backend table, in listing order.
std::vector<std::unique_ptr<IPortBackend>> MakeBackends() {
    std::vector<std::unique_ptr<IPortBackend>> backends;
    backends.push_back(std::make_unique<fluidsynth::FluidSynthBackend>());
    return backends;
}

class DefaultMusicSystem final : public music::IMusicSystem {
public:
    HRESULT CreateMusic(std::unique_ptr<music::IMusic>* out) override {
        if (out == nullptr)
            return music::E_POINTER;
        *out = std::make_unique<music::MusicObject>(MakeBackends());
        return music::S_OK;
    }
};

}  // namespace

std::unique_ptr<music::IMusicSystem> CreateDefaultMusicSystem() {
    return std::make_unique<DefaultMusicSystem>();
}

}  // namespace platform
