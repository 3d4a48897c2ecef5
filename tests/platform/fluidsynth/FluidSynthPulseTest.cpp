// The built-in synthesizer against a real PulseAudio server: what it plays is recorded from
// the sink's monitor. Skipped unless PULSE_SERVER names a running server.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineSynth.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace tests::fluidsynth {
namespace {

int Peak(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (std::int16_t s : samples)
        peak = std::max(peak, std::abs(int(s)));
    return peak;
}

TEST(FluidSynthPulseTest, NoteOnIsHeardOnTheSinkMonitor) {
    if (!PulseMonitor::ServerReachable())
        GTEST_SKIP() << "no PulseAudio server at PULSE_SERVER";
    PulseMonitor monitor;
    ASSERT_TRUE(monitor.Connected());

    FluidSynthBackend::Options options;
    options.audioDrivers = {"pulseaudio"};
    FluidSynthBackend backend(options);
    DMUS_PORTPARAMS8 params = Params(DMUS_PORTPARAMS_SAMPLERATE, 0, 0, 0, 44100);
    std::unique_ptr<IMusicPort> port;
    ASSERT_EQ(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port), S_OK);
    ASSERT_EQ(port->Activate(TRUE), S_OK);
    EXPECT_EQ(backend.LastPortRenderer()->Render(64).size(), 0u);  // the driver renders now

    EventBuffer buffer(64);
    ASSERT_EQ(buffer.PackStructured(0, 0, Msg(0x90, 69, 127)), S_OK);
    ASSERT_EQ(port->PlayBuffer(buffer), S_OK);

    // Up to 3 s for the first sound (a new record stream may start late), then 0.3 s of it.
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
    const auto more = monitor.Read(std::size_t(rate / 5));
    for (std::size_t i = 0; i < more.size(); i += 2)
        heard.push_back(more[i] / 32768.0f);
    std::vector<float> left(heard.end() - rate / 5, heard.end());
    EXPECT_NEAR(PitchHz(left, rate), 440.0, 440.0 * 0.015);

    // Deactivation stops the sound.
    ASSERT_EQ(port->Activate(FALSE), S_OK);
    monitor.Read(std::size_t(rate / 2));
    EXPECT_EQ(Peak(monitor.Read(std::size_t(rate / 10))), 0);
}

}  // namespace
}  // namespace tests::fluidsynth
