#include "platform/backends/DefaultMusicSystem.h"

#include <array>
#include <string_view>
#include <vector>

#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/SoundFontLoader.h"
#include "platform/midi/JackBackend.h"
#include "platform/midi/JackServer.h"
#include "platform/midi/OwnMidiOutput.h"
#include "platform/midi/RtMidiBackend.h"
#include "platform/music/MusicObject.h"
#include "platform/music/ResultCodes.h"

namespace platform {
namespace {

using music::HRESULT;
using music::IPortBackend;

using Jack = std::shared_ptr<midi::JackServer>;

struct BackendRow {
    std::string_view name;
    std::unique_ptr<IPortBackend> (*make)(const Jack& jack);
};

// The backend table, in order of preference: the order ports are listed in. Each row may find
// its system absent on a machine and then lists no ports.
constexpr std::array<BackendRow, 3> kBackends{{
    {"built-in synthesizer",
     [](const Jack&) -> std::unique_ptr<IPortBackend> {
         return std::make_unique<fluidsynth::FluidSynthBackend>();
     }},
    {"ALSA sequencer",
     [](const Jack&) -> std::unique_ptr<IPortBackend> {
         return std::make_unique<midi::RtMidiBackend>(midi::MidiApi::AlsaSequencer);
     }},
    {"JACK",
     [](const Jack& jack) -> std::unique_ptr<IPortBackend> {
         return std::make_unique<midi::JackBackend>(jack);
     }},
}};

std::vector<std::unique_ptr<IPortBackend>> MakeBackends(const Jack& jack) {
    std::vector<std::unique_ptr<IPortBackend>> backends;
    for (const BackendRow& row : kBackends)
        backends.push_back(row.make(jack));
    return backends;
}

class DefaultMusicSystem final : public music::IMusicSystem {
public:
    HRESULT CreateMusic(std::unique_ptr<music::IMusic>* out) override {
        if (out == nullptr)
            return music::E_POINTER;
        // One link to JACK for every music object. The own output port is made with the
        // first music object and mirrors every one.
        if (!jack_)
            jack_ = std::make_shared<midi::JackServer>();
        if (!ownOutput_)
            ownOutput_ = std::make_shared<midi::OwnMidiOutput>(jack_);
        *out = std::make_unique<music::MusicObject>(MakeBackends(jack_), ownOutput_);
        return music::S_OK;
    }
    HRESULT CreateLoader(std::unique_ptr<music::IMusicLoader>* out) override {
        if (out == nullptr)
            return music::E_POINTER;
        *out = std::make_unique<fluidsynth::SoundFontLoader>();
        return music::S_OK;
    }

private:
    Jack jack_;
    std::shared_ptr<midi::OwnMidiOutput> ownOutput_;
};

}  // namespace

std::unique_ptr<music::IMusicSystem> CreateDefaultMusicSystem() {
    return std::make_unique<DefaultMusicSystem>();
}

}  // namespace platform
