// The synthesizer prepared beside start-up: taken once, only for the configuration and file it
// was made with; the port that takes it plays like any other; its preset list is the
// collection's own; a SoundFont it could not load leaves the failure to the port, reported on
// the port's thread.

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "platform/fluidsynth/SoundFontCollection.h"
#include "platform/fluidsynth/SoundFontFile.h"
#include "platform/fluidsynth/SynthWarmUp.h"
#include "platform/music/ErrorInfo.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"

namespace tests::fluidsynth {
namespace {

using platform::fluidsynth::SoundFontCollection;
using platform::fluidsynth::SoundFontFile;
using platform::fluidsynth::SynthCore;
using platform::fluidsynth::SynthWarmUp;

const std::string kSoundFont = FluidSynthBackend::Options{}.soundFontPath;

TEST(SynthWarmUpTest, IsTakenOnceAndOnlyForItsConfigurationAndFile) {
    SynthCore::Config config;
    SynthWarmUp warmUp(config, kSoundFont);

    SynthCore::Config fewerVoices = config;
    fewerVoices.voices = 32;
    EXPECT_EQ(warmUp.Take(fewerVoices, kSoundFont), nullptr);
    EXPECT_EQ(warmUp.Take(config, kSoundFont + ".other"), nullptr);

    const std::shared_ptr<SynthCore> core = warmUp.Take(config, kSoundFont);
    ASSERT_NE(core, nullptr);
    EXPECT_EQ(core->SampleRate(), config.sampleRate);
    // Loaded already: the port's own load finds nothing to do.
    EXPECT_EQ(core->LoadSoundFont(kSoundFont), S_OK);
    EXPECT_EQ(warmUp.Take(config, kSoundFont), nullptr);
}

TEST(SynthWarmUpTest, ListsThePresetsAsTheCollectionReadsThem) {
    SynthWarmUp warmUp(SynthCore::Config{}, kSoundFont);
    const auto presets = warmUp.Presets(kSoundFont);
    ASSERT_TRUE(presets.has_value());
    EXPECT_FALSE(warmUp.Presets(kSoundFont + ".other").has_value());

    HRESULT hr = E_FAIL;
    const auto read = SoundFontCollection::Load(std::make_shared<SoundFontFile>(kSoundFont), &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(presets->size(), read->Presets().size());
    for (std::size_t i = 0; i < presets->size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ((*presets)[i].patch, read->Presets()[i].patch);
        EXPECT_EQ((*presets)[i].name, read->Presets()[i].name);
    }
}

// A port from a backend given the default port's warm-up: the port asked with the defaults
// takes the prepared synth, any other makes its own; both must sound.
TEST(SynthWarmUpTest, PortsWithAndWithoutThePreparedSynthPlay) {
    struct Case {
        const char* name;
        DMUS_PORTPARAMS8 params;
    };
    const Case cases[] = {
        {"defaults (prepared)", Params()},
        {"as the player asks (prepared)",
         Params(
             DMUS_PORTPARAMS_CHANNELGROUPS | DMUS_PORTPARAMS_EFFECTS | DMUS_PORTPARAMS_SAMPLERATE,
             0, 1, DMUS_EFFECT_REVERB | DMUS_EFFECT_CHORUS, 44100)},
        {"64 voices (its own)", Params(DMUS_PORTPARAMS_VOICES, 64)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FluidSynthBackend::Options options = OfflineOptions();
        options.warmUp = FluidSynthBackend::DefaultPortWarmUp(options);
        FluidSynthBackend backend(options);
        DMUS_PORTPARAMS8 params = c.params;
        std::unique_ptr<IMusicPort> port;
        ASSERT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port), S_OK);
        ASSERT_EQ(port->Activate(TRUE), S_OK);
        EventBuffer buffer(64);
        ASSERT_EQ(buffer.PackStructured(0, 0, Msg(0x90, 69, 100)), S_OK);
        ASSERT_EQ(port->PlayBuffer(buffer), S_OK);
        const auto renderer = backend.LastPortRenderer();
        const std::vector<float> sound = renderer->Render(std::size_t(renderer->SampleRate() / 2));
        EXPECT_GT(Rms(LeftChannel(sound, 0, sound.size() / 2)), 0.01);
    }
}

TEST(SynthWarmUpTest, AMissingSoundFontIsReportedByThePortOnItsOwnThread) {
    FluidSynthBackend::Options options = OfflineOptions();
    options.soundFontPath = "/nonexistent/tunestead-missing.sf2";
    options.warmUp = FluidSynthBackend::DefaultPortWarmUp(options);
    EXPECT_FALSE(options.warmUp->Presets(options.soundFontPath).has_value());

    FluidSynthBackend backend(options);
    DMUS_PORTPARAMS8 params = Params();
    std::unique_ptr<IMusicPort> port;
    ASSERT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port), S_OK);
    platform::music::TakeErrorInfo();
    EXPECT_TRUE(Failed(port->Activate(TRUE)));
    EXPECT_NE(platform::music::TakeErrorInfo().find("tunestead-missing.sf2"), std::string::npos);
}

}  // namespace
}  // namespace tests::fluidsynth
