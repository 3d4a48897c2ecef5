// The master clocks of the real music object: the system's monotonic clock and the
// built-in synthesizer's audio clock, which moves exactly with what the synth renders.

#include <gtest/gtest.h>

#include "musicport/CDMusicException.h"
#include "musicport/CMasterClock.h"
#include "platform/fluidsynth/AudioClock.h"
#include "tests/platform/fluidsynth/ActivateFirstOutput.h"
#include "tests/platform/fluidsynth/OfflineMusicSystem.h"

namespace tests::fluidsynth {
namespace {

TEST(MasterClockTest, AudioClockFollowsRenderedSamples) {
    OfflineMusicSystem system;
    musicport::CDirectMusic music(system);
    musicport::COutputPort output;
    musicport::PortInfo port{};
    musicport::CMasterClock clock;
    try {
        ActivateFirstOutput(music, output, &port);
        clock.Initialize(music);
        ASSERT_EQ(clock.GetNumClocks(), 2u);
        musicport::ClockInfo monotonic;
        musicport::ClockInfo audio;
        ASSERT_EQ(clock.GetClockInfo(1, &monotonic), S_OK);
        ASSERT_EQ(clock.GetClockInfo(2, &audio), S_OK);
        EXPECT_EQ(clock.GetClockInfo(3, &audio), S_FALSE);
        EXPECT_STREQ(monotonic.szClockDescription.data(), "System monotonic clock");
        EXPECT_EQ(monotonic.ctType, DMUS_CLOCK_SYSTEM);
        EXPECT_STREQ(audio.szClockDescription.data(), "Built-in synthesizer audio clock");
        EXPECT_EQ(audio.ctType, DMUS_CLOCK_WAVE);
        EXPECT_EQ(audio.guidClock, platform::fluidsynth::AudioClock::kGuid);

        clock.ActivateMasterClock(&audio);
        IReferenceClock* reference = clock.GetReferenceClock();
        ASSERT_NE(reference, nullptr);
        REFERENCE_TIME before = 0;
        REFERENCE_TIME after = 0;
        reference->GetTime(&before);
        reference->GetTime(&after);
        EXPECT_EQ(after, before);  // nothing rendered: audio time stands still
        auto renderer = system.backend->LastPortRenderer();
        renderer->Render(std::size_t(renderer->SampleRate()));
        reference->GetTime(&after);
        // One second of audio, to the clock's millisecond resolution.
        EXPECT_NEAR(double(after - before), 10'000'000.0, 20'000.0);

        clock.ActivateMasterClock(&monotonic);
        reference = clock.GetReferenceClock();
        reference->GetTime(&before);
        reference->GetTime(&after);
        EXPECT_GE(after, before);
        EXPECT_GT(before, 0);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

}  // namespace
}  // namespace tests::fluidsynth
