// Sample instruments on the built-in synthesizer, rendered offline: the layer's download
// operations over FluidSynth, judged by the pitch and level of what comes out.

#include <gtest/gtest.h>

#include <cmath>

#include "musicport/CDMusicException.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "musicport/CSampleInstrument.h"
#include "musicport/CWaveFileLoader.h"
#include "musicport/UnitConversions.h"
#include "tests/musicport/WaveFixtures.h"
#include "tests/platform/fluidsynth/ActivateFirstOutput.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineMusicSystem.h"

namespace tests::fluidsynth {
namespace {

using musicport::CSampleInstrument;
using musicport::MakeMidiMsg;
using musicport::SampleRegion;
namespace wave = tests::wave;

constexpr int kRate = 44100;

class SampleInstrumentRender : public ::testing::Test {
protected:
    void SetUp() override {
        ActivateFirstOutput(music, output, &info);
        renderer = system.backend->LastPortRenderer();
        ASSERT_NE(renderer, nullptr);
    }

    // A full-range instrument on patch `program` (bank 0) over the caller's wave.
    void Prepare(CSampleInstrument& instrument, wave::Bytes& pcm, const WAVEFORMATEX& format,
                 DWORD program, bool loop, WORD unityNote = 69) {
        instrument.SetWaveForm(pcm.data(), &format, DWORD(pcm.size()));
        instrument.SetPatch(program);
        const SampleRegion region{{0, 127}, {0, 127}};
        instrument.SetRegion(&region);
        instrument.SetLoop(loop ? 1 : 0);
        instrument.SetWaveParams(0, 0, unityNote, 0);
        DMUS_ARTICPARAMS art;
        art.VolEG.tcAttack = musicport::TimeCents(0.0);
        art.VolEG.tcDecay = musicport::TimeCents(0.0);
        art.VolEG.ptSustain = musicport::PercentUnits(100.0);
        art.VolEG.tcRelease = musicport::TimeCents(0.02);
        instrument.SetArticulationParams(&art);
    }

    void Download(CSampleInstrument& instrument) {
        ASSERT_EQ(output.AllocateMemory(instrument), 0);
        ASSERT_EQ(output.DownloadInstrument(instrument), 0);
    }

    // Program change and note-on on `channel`, then `seconds` of sound.
    std::vector<float> Play(BYTE channel, BYTE program, BYTE note, double seconds) {
        output.SendMidiMsg(MakeMidiMsg(0xC0, channel, program, 0), 0);
        output.SendMidiMsg(MakeMidiMsg(0x90, channel, note, 100), 0);
        return renderer->Render(std::size_t(seconds * renderer->SampleRate()));
    }
    // The left channel between two times, in seconds.
    std::vector<float> Window(const std::vector<float>& stereo, double from, double to) const {
        const int rate = renderer->SampleRate();
        return LeftChannel(stereo, std::size_t(from * rate), std::size_t((to - from) * rate));
    }
    void Silence() {
        output.SendMidiMsg(MakeMidiMsg(0xB0, 0, 120, 0), 0);
        output.SendMidiMsg(MakeMidiMsg(0xB0, 1, 120, 0), 0);
        renderer->Render(std::size_t(renderer->SampleRate() / 10));
    }

    OfflineMusicSystem system;
    musicport::CDirectMusic music{system};
    musicport::COutputPort output;
    musicport::PortInfo info{};
    std::shared_ptr<platform::fluidsynth::Renderer> renderer;
};

TEST_F(SampleInstrumentRender, SinePlaysAtItsUnityNoteAndAnOctaveUp) {
    try {
        wave::Bytes pcm = wave::Sine16(440.0, kRate, 0.5);
        CSampleInstrument instrument;
        Prepare(instrument, pcm, wave::Pcm(1, kRate, 16), 10, true);
        Download(instrument);

        const auto up = Play(0, 10, 81, 0.4);
        EXPECT_NEAR(PitchHz(Window(up, 0.1, 0.3), renderer->SampleRate()), 880.0, 4.4);
        EXPECT_GT(Rms(Window(up, 0.1, 0.3)), 0.02);
        Silence();
        const auto unity = Play(1, 10, 69, 0.4);
        EXPECT_NEAR(PitchHz(Window(unity, 0.1, 0.3), renderer->SampleRate()), 440.0, 2.2);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

TEST_F(SampleInstrumentRender, LoopedSampleSustainsAndOneShotEndsWithItsWave) {
    try {
        // 0.15 s of wave, held for 0.6 s.
        wave::Bytes pcm = wave::Sine16(440.0, kRate, 0.15);
        CSampleInstrument looped;
        CSampleInstrument oneShot;
        Prepare(looped, pcm, wave::Pcm(1, kRate, 16), 20, true);
        Prepare(oneShot, pcm, wave::Pcm(1, kRate, 16), 21, false);
        Download(looped);
        Download(oneShot);

        const auto loopedSound = Play(0, 20, 69, 0.6);
        Silence();
        const auto oneShotSound = Play(0, 21, 69, 0.6);
        EXPECT_GT(Rms(Window(loopedSound, 0.02, 0.12)), 0.02);
        EXPECT_GT(Rms(Window(oneShotSound, 0.02, 0.12)), 0.02);
        // After the wave's end only the looped one still sounds.
        EXPECT_GT(Rms(Window(loopedSound, 0.3, 0.55)), 0.02);
        EXPECT_LT(Rms(Window(oneShotSound, 0.3, 0.55)), 0.001);
        EXPECT_NEAR(PitchHz(Window(loopedSound, 0.3, 0.55), renderer->SampleRate()), 440.0, 4.4);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

// Fine tune in cents, attenuation in gain units, and the key and velocity region.
TEST_F(SampleInstrumentRender, WaveParamsAndRegionShapeTheSound) {
    try {
        wave::Bytes pcm = wave::Sine16(440.0, kRate, 0.5);
        CSampleInstrument plain;
        CSampleInstrument shaped;
        Prepare(plain, pcm, wave::Pcm(1, kRate, 16), 50, true);
        Prepare(shaped, pcm, wave::Pcm(1, kRate, 16), 51, true);
        // Seven semitones up, 6 dB down, only keys 60 to 72 at velocities 64 and above.
        shaped.SetWaveParams(musicport::GainUnits(0.5, 1.0), 700, 69, 0);
        const SampleRegion region{{60, 72}, {64, 127}};
        shaped.SetRegion(&region);
        Download(plain);
        Download(shaped);

        const int rate = renderer->SampleRate();
        const auto reference = Window(Play(0, 50, 69, 0.3), 0.1, 0.25);
        Silence();
        const auto tuned = Window(Play(0, 51, 69, 0.3), 0.1, 0.25);
        EXPECT_NEAR(PitchHz(tuned, rate), 440.0 * std::pow(2.0, 7.0 / 12.0), 4.4);
        EXPECT_NEAR(Rms(tuned) / Rms(reference), 0.5, 0.08);
        Silence();
        EXPECT_LT(Rms(Window(Play(0, 51, 59, 0.2), 0.05, 0.15)), 0.001);  // key below
        Silence();
        output.SendMidiMsg(MakeMidiMsg(0x90, 0, 69, 40), 0);  // soft velocity
        EXPECT_LT(Rms(Window(renderer->Render(std::size_t(0.2 * rate)), 0.05, 0.15)), 0.001);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

// A 24-bit stereo file that sox wrote (extensible format), loaded from the file, plays on
// both sides; unloading gives the patch back to the SoundFont.
TEST_F(SampleInstrumentRender, StereoFileFromSoxPlaysAndUnloadRestoresTheSoundFont) {
    wave::ScratchDir dir("sample-render");
    const std::string path = dir.File("tone.wav");
    ASSERT_TRUE(wave::Sox("-n -r 44100 -b 24 -c 2 " + path + " synth 0.5 sine 440 vol 0.5"));
    try {
        CSampleInstrument instrument;
        musicport::CWaveFileLoader::LoadWaveFile(path.c_str(), instrument, 1);
        instrument.SetPatch(12);
        const SampleRegion region{{0, 127}, {0, 127}};
        instrument.SetRegion(&region);
        instrument.SetLoop(1);
        // Unity note 57: note 69 plays the 440 Hz wave an octave up.
        instrument.SetWaveParams(0, 0, 57, 0);
        DMUS_ARTICPARAMS art;
        art.VolEG.tcAttack = musicport::TimeCents(0.0);
        art.VolEG.ptSustain = musicport::PercentUnits(100.0);
        instrument.SetArticulationParams(&art);
        Download(instrument);

        const auto sound = Play(0, 12, 69, 0.3);
        const int rate = renderer->SampleRate();
        const auto right = [&] {
            std::vector<float> mono;
            for (std::size_t i = std::size_t(0.1 * rate); i < std::size_t(0.25 * rate); ++i)
                mono.push_back(sound[2 * i + 1]);
            return mono;
        }();
        EXPECT_NEAR(PitchHz(Window(sound, 0.1, 0.25), rate), 880.0, 4.4);
        EXPECT_NEAR(PitchHz(right, rate), 880.0, 4.4);
        EXPECT_GT(Rms(right), 0.02);

        Silence();
        ASSERT_EQ(output.UnloadInstrument(instrument), 0);
        const auto fallback = Play(0, 12, 69, 0.3);  // the SoundFont's marimba at 440 Hz
        EXPECT_GT(Rms(Window(fallback, 0.02, 0.1)), 0.005);
        EXPECT_NEAR(PitchHz(Window(fallback, 0.02, 0.1), rate), 440.0, 8.8);

        // Downloaded again from the same buffers, it answers the patch again.
        Silence();
        ASSERT_EQ(output.DownloadInstrument(instrument), 0);
        EXPECT_NEAR(PitchHz(Window(Play(0, 12, 69, 0.3), 0.1, 0.25), rate), 880.0, 4.4);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

TEST_F(SampleInstrumentRender, WavesTheSynthCannotPlayAreRefused) {
    struct Case {
        const char* name;
        WAVEFORMATEX format;
        std::size_t bytes;
        HRESULT expected;
    };
    WAVEFORMATEX adpcm = wave::Pcm(1, kRate, 16);
    adpcm.wFormatTag = 2;
    WAVEFORMATEX floats = wave::Pcm(1, kRate, 32);
    floats.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    const WAVEFORMATEX zeroBlock = [] {
        WAVEFORMATEX f = wave::Pcm(1, kRate, 16);
        f.nBlockAlign = 0;
        return f;
    }();
    const Case cases[] = {
        {"compressed", adpcm, 400, DMUS_E_NOTPCM},
        {"floating point", floats, 400, DMUS_E_NOTPCM},
        {"no data", wave::Pcm(1, kRate, 16), 0, DMUS_E_BADWAVE},
        {"less than one frame", wave::Pcm(2, kRate, 16), 3, DMUS_E_BADWAVE},
        {"three channels", wave::Pcm(3, kRate, 16), 600, DMUS_E_WAVEFORMATNOTSUPPORTED},
        {"zero block size", zeroBlock, 400, DMUS_E_WAVEFORMATNOTSUPPORTED},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        wave::Bytes pcm(c.bytes + 1, 0);
        CSampleInstrument instrument;
        Prepare(instrument, pcm, c.format, 30, true);
        instrument.SetWaveForm(pcm.data(), &c.format, DWORD(c.bytes));
        try {
            ASSERT_EQ(output.AllocateMemory(instrument), 0);
            output.DownloadInstrument(instrument);
            ADD_FAILURE() << "downloaded";
        } catch (const musicport::CDMusicException& e) {
            EXPECT_EQ(e.GetCode(), c.expected) << e.GetReport();
            EXPECT_STREQ(e.GetMemberFunction(),
                         "COutputPort::DownloadInstrument(CSampleInstrument)");
        }
    }
}

}  // namespace
}  // namespace tests::fluidsynth
