// The built-in synthesizer under the music-port layer, driven the way the application
// drives it: music object, first output port, start-up parameters, SendMidiMsg.

#include <gtest/gtest.h>

#include "musicport/CDMusicException.h"
#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "platform/music/MusicObject.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/ActivateFirstOutput.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineMusicSystem.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"

namespace tests::fluidsynth {
namespace {

using musicport::CDirectMusic;
using musicport::COutputPort;
using musicport::MakeMidiMsg;
using musicport::PortInfo;

// The application's start-up: the first output port, one channel group, its effects,
// 44100 Hz, a 32-byte system-exclusive size.
void ActivateFirstOutput(CDirectMusic& music, COutputPort& output, PortInfo* info) {
    ASSERT_EQ(music.Initialize(nullptr, nullptr), 0);
    ASSERT_EQ(output.Initialize(music), 0);
    ASSERT_EQ(output.GetPortInfo(1, info), S_OK);
    output.SetPortParams(0, 0, 1, info->dwEffectFlags, 44100);
    ASSERT_EQ(output.ActivatePort(info, 32), 0);
}

TEST(FluidSynthMusicPortTest, SendMidiMsgPlaysA440) {
    OfflineMusicSystem system;
    CDirectMusic music(system);
    COutputPort output;
    PortInfo info{};
    try {
        ActivateFirstOutput(music, output, &info);
        EXPECT_STREQ(info.szPortDescription.data(), "Tunestead built-in synthesizer (FluidSynth)");
        EXPECT_TRUE(info.dwFlags & DMUS_PC_DLS);
        EXPECT_EQ(output.GetPortParams().dwSampleRate, 44100u);
        EXPECT_EQ(output.GetPortParams().dwChannelGroups, 1u);
        EXPECT_EQ(output.SetEffect(3), 0);

        auto renderer = system.backend->LastPortRenderer();
        ASSERT_NE(renderer, nullptr);
        const int rate = renderer->SampleRate();
        ASSERT_EQ(output.SendMidiMsg(MakeMidiMsg(0x90, 0, 69, 127), 0), 0);
        const auto held = LeftChannel(renderer->Render(std::size_t(rate / 2)),
                                      std::size_t(rate / 10), std::size_t(rate / 5));
        EXPECT_NEAR(PitchHz(held, rate), 440.0, 4.4);
        EXPECT_GT(Rms(held), 0.01);

        // All Notes Off, as the application sends it, and then the long version with a
        // system-exclusive message that fits the 32-byte event.
        ASSERT_EQ(output.SendMidiMsg(MakeMidiMsg(0xB0, 0, 123, 0), 0), 0);
        const BYTE gmOn[] = {0xF0, 0x7E, 0x7F, 0x09, 0x01, 0xF7};
        ASSERT_EQ(output.SendMidiMsg(gmOn, sizeof gmOn, 0), 0);
        renderer->Render(std::size_t(rate));
        EXPECT_LT(Rms(LeftChannel(renderer->Render(std::size_t(rate / 5)), 0, 8820)),
                  Rms(held) * 0.1);

        DMUS_SYNTHSTATS8 stats;
        EXPECT_EQ(output.GetSynthStats(&stats), 0);
        EXPECT_EQ(output.DeactivatePort(), S_OK);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

TEST(FluidSynthMusicPortTest, MissingSoundFontSurfacesAsLoaderFailure) {
    class NoSoundFont final : public IMusicSystem {
    public:
        HRESULT CreateMusic(std::unique_ptr<IMusic>* music) override {
            auto options = OfflineOptions();
            options.soundFontPath = "/nonexistent/default-GM.sf2";
            std::vector<std::unique_ptr<IPortBackend>> backends;
            backends.push_back(std::make_unique<FluidSynthBackend>(options));
            *music = std::make_unique<MusicObject>(std::move(backends));
            return S_OK;
        }
    } system;
    CDirectMusic music(system);
    COutputPort output;
    PortInfo info{};
    ASSERT_EQ(music.Initialize(nullptr, nullptr), 0);
    ASSERT_EQ(output.Initialize(music), 0);
    ASSERT_EQ(output.GetPortInfo(1, &info), S_OK);
    try {
        output.ActivatePort(&info, 32);
        FAIL() << "activation without a SoundFont succeeded";
    } catch (const musicport::CDMusicException& e) {
        EXPECT_EQ(e.GetCode(), DMUS_E_LOADER_FAILEDOPEN) << e.GetReport();
    }
    output.DeactivatePort();
}

}  // namespace
}  // namespace tests::fluidsynth
