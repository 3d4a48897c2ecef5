#include "platform/backends/DefaultMusicSystem.h"

#include <array>
#include <future>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/SoundFontLoader.h"
#include "platform/fluidsynth/SynthWarmUp.h"
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

using WarmUp = std::shared_ptr<fluidsynth::SynthWarmUp>;

// What every music object's backends share.
struct Shared {
    Jack jack;
    WarmUp synth;
};

struct BackendRow {
    std::string_view name;
    std::unique_ptr<IPortBackend> (*make)(const Shared& shared);
};

// The backend table, in order of preference: the order ports are listed in. Each row may find
// its system absent on a machine and then lists no ports.
constexpr std::array<BackendRow, 3> kBackends{{
    {"built-in synthesizer",
     [](const Shared& shared) -> std::unique_ptr<IPortBackend> {
         fluidsynth::FluidSynthBackend::Options options;
         options.warmUp = shared.synth;
         return std::make_unique<fluidsynth::FluidSynthBackend>(std::move(options));
     }},
    {"ALSA sequencer",
     [](const Shared&) -> std::unique_ptr<IPortBackend> {
         return std::make_unique<midi::RtMidiBackend>(midi::MidiApi::AlsaSequencer);
     }},
    {"JACK",
     [](const Shared& shared) -> std::unique_ptr<IPortBackend> {
         return std::make_unique<midi::JackBackend>(shared.jack);
     }},
}};

std::vector<std::unique_ptr<IPortBackend>> MakeBackends(const Shared& shared) {
    std::vector<std::unique_ptr<IPortBackend>> backends;
    for (const BackendRow& row : kBackends)
        backends.push_back(row.make(shared));
    return backends;
}

struct OwnOutput {
    Jack jack;
    std::shared_ptr<midi::OwnMidiOutput> output;
};

// One link to JACK for every music object, and the own output port that mirrors every one.
// Reaching the JACK server and the ALSA sequencer takes tens of milliseconds.
OwnOutput MakeOwnOutput() {
    auto jack = std::make_shared<midi::JackServer>();
    auto output = std::make_shared<midi::OwnMidiOutput>(jack);
    return {std::move(jack), std::move(output)};
}

class DefaultMusicSystem final : public music::IMusicSystem {
public:
    // The slow parts of the first music object (the synthesizer with its SoundFont, the JACK
    // link and the own output port) start now, each on a thread of its own, and are waited
    // for when first needed: a program that makes the system first builds its window meanwhile.
    DefaultMusicSystem()
        : synth_(fluidsynth::FluidSynthBackend::DefaultPortWarmUp({})),
          pendingOwn_(std::async(std::launch::async, MakeOwnOutput)) {}

    HRESULT CreateMusic(std::unique_ptr<music::IMusic>* out) override {
        if (out == nullptr)
            return music::E_POINTER;
        if (pendingOwn_.valid())
            own_ = pendingOwn_.get();
        *out = std::make_unique<music::MusicObject>(MakeBackends({own_.jack, synth_}), own_.output);
        return music::S_OK;
    }
    HRESULT CreateLoader(std::unique_ptr<music::IMusicLoader>* out) override {
        if (out == nullptr)
            return music::E_POINTER;
        *out = std::make_unique<fluidsynth::SoundFontLoader>(
            fluidsynth::SoundFontLoader::kDefaultCollection, synth_);
        return music::S_OK;
    }

private:
    WarmUp synth_;
    std::future<OwnOutput> pendingOwn_;
    OwnOutput own_;
};

}  // namespace

std::unique_ptr<music::IMusicSystem> CreateDefaultMusicSystem() {
    return std::make_unique<DefaultMusicSystem>();
}

}  // namespace platform
