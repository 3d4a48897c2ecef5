// The built-in synthesizer against a real PulseAudio server: what it plays is recorded from
// the sink's monitor. Skipped unless PULSE_SERVER names a running server.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "musicport/CDMusicException.h"
#include "platform/backends/DefaultMusicSystem.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/ActivateFirstOutput.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace tests::fluidsynth {
namespace {

// Tiny record fragments would pull the sink's latency down to a millisecond, and a busy
// machine then drops periods; these tests check what is heard, not how soon.
constexpr int kMonitorFragmentFrames = 1024;

int Peak(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (std::int16_t s : samples)
        peak = std::max(peak, std::abs(int(s)));
    return peak;
}

TEST(FluidSynthPulseTest, NoteOnIsHeardOnTheSinkMonitor) {
    if (!PulseMonitor::ServerReachable())
        GTEST_SKIP() << "no PulseAudio server at PULSE_SERVER";
    PulseMonitor monitor(48000, kMonitorFragmentFrames);
    ASSERT_TRUE(monitor.Connected());

    FluidSynthBackend::Options options;
    options.audioDrivers = {"pulseaudio"};
    // Roomier periods than the default: this test is about what is heard, not how soon.
    options.periodSize = 256;
    options.periods = 4;
    FluidSynthBackend backend(options);
    DMUS_PORTPARAMS8 params = Params(DMUS_PORTPARAMS_SAMPLERATE, 0, 0, 0, 44100);
    std::unique_ptr<IMusicPort> port;
    ASSERT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port), S_OK);
    ASSERT_EQ(port->Activate(TRUE), S_OK);
    EXPECT_EQ(backend.LastPortRenderer()->Render(64).size(), 0u);  // the driver renders now

    EventBuffer buffer(64);
    ASSERT_EQ(buffer.PackStructured(0, 0, Msg(0x90, 69, 127)), S_OK);
    ASSERT_EQ(port->PlayBuffer(buffer), S_OK);

    // Up to 3 s for the first sound (a new record stream may start late), then 0.4 s more.
    const int rate = monitor.SampleRate();
    std::vector<float> heard;
    for (int block = 0; block < 30 && heard.empty(); ++block) {
        const auto samples = monitor.Read(std::size_t(rate / 10));
        ASSERT_FALSE(samples.empty());
        if (Peak(samples) > 1000) {
            for (std::size_t i = 0; i < samples.size(); i += 2)
                heard.push_back(samples[i] / 32768.0f);
        }
    }
    ASSERT_FALSE(heard.empty()) << "nothing reached the sink";
    const auto more = monitor.Read(std::size_t(rate * 2 / 5));
    for (std::size_t i = 0; i < more.size(); i += 2)
        heard.push_back(more[i] / 32768.0f);
    // The A in eight 50 ms windows. A busy machine drops periods (gaps of silence that spoil
    // a window's measure); the note is right when a clean window hears it at 440 Hz.
    int atPitch = 0;
    for (int w = 0; w < 8; ++w) {
        const auto begin = heard.end() - (8 - w) * rate / 20;
        const std::vector<float> window(begin, begin + rate / 20);
        atPitch += std::abs(PitchHz(window, rate) - 440.0) < 440.0 * 0.015 ? 1 : 0;
    }
    EXPECT_GE(atPitch, 1);

    // Deactivation stops the sound (the monitor may lag behind: wait up to 3 s for it).
    ASSERT_EQ(port->Activate(FALSE), S_OK);
    bool silent = false;
    for (int block = 0; block < 30 && !silent; ++block)
        silent = Peak(monitor.Read(std::size_t(rate / 10))) == 0;
    EXPECT_TRUE(silent);
}

// The application's own music system on a real PulseAudio server: the note reaches the sink.
TEST(FluidSynthPulseTest, DefaultMusicSystemIsHeardOnPulseAudio) {
    if (!PulseMonitor::ServerReachable())
        GTEST_SKIP() << "no PulseAudio server at PULSE_SERVER";
    PulseMonitor monitor(48000, kMonitorFragmentFrames);
    auto system = platform::CreateDefaultMusicSystem();
    musicport::CDirectMusic music(*system);
    musicport::COutputPort output;
    musicport::PortInfo info{};
    try {
        ActivateFirstOutput(music, output, &info);
        ASSERT_EQ(output.SendMidiMsg(musicport::MakeMidiMsg(0x90, 0, 69, 127), 0), 0);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
    bool heard = false;
    for (int block = 0; block < 30 && !heard; ++block) {
        const auto samples = monitor.Read(std::size_t(monitor.SampleRate() / 10));
        ASSERT_FALSE(samples.empty());
        heard = std::any_of(samples.begin(), samples.end(),
                            [](std::int16_t s) { return std::abs(int(s)) > 1000; });
    }
    EXPECT_TRUE(heard);
    output.SendMidiMsg(musicport::MakeMidiMsg(0xB0, 0, 123, 0), 0);
}

}  // namespace
}  // namespace tests::fluidsynth
