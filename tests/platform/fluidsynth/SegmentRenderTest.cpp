// A MIDI file played as a segment on the built-in synthesizer, rendered offline.

#include <gtest/gtest.h>

#include "musicport/CDMusicException.h"
#include "musicport/CSegment.h"
#include "musicport/CSegmentLoader.h"
#include "tests/musicport/MidiFixtures.h"
#include "tests/musicport/WaveFixtures.h"
#include "tests/platform/fluidsynth/ActivateFirstOutput.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineMusicSystem.h"

namespace tests::fluidsynth {
namespace {

using musicport::MUSIC_TIME;

TEST(SegmentRenderTest, TwoNoteFileSoundsBothNotesInOrder) {
    wave::ScratchDir dir("segment-render");
    const std::string path = dir.File("two.mid");
    wave::WriteFile(path, midi::TwoNotes());
    OfflineMusicSystem system;
    musicport::CDirectMusic music(system);
    musicport::COutputPort output;
    musicport::PortInfo info{};
    musicport::CSegment segment;
    try {
        ActivateFirstOutput(music, output, &info);
        auto renderer = system.backend->LastPortRenderer();
        const int rate = renderer->SampleRate();

        musicport::CSegmentLoader::LoadSegment(path.c_str(), segment, 1);
        segment.Download(output);
        segment.Play(output);
        const auto sound = renderer->Render(std::size_t(rate));
        const auto window = [&](double from, double to) {
            return LeftChannel(sound, std::size_t(from * rate), std::size_t((to - from) * rate));
        };
        // Note 69 from 0 to 0.3 s, then note 81 from 0.4 s.
        EXPECT_NEAR(PitchHz(window(0.05, 0.25), rate), 440.0, 4.4);
        EXPECT_NEAR(PitchHz(window(0.45, 0.65), rate), 880.0, 8.8);
        EXPECT_GT(Rms(window(0.05, 0.25)), 0.01);
        EXPECT_GT(Rms(window(0.45, 0.65)), 0.01);
        EXPECT_LT(Rms(window(0.0, 0.004)), 0.001);  // nothing before the first note starts

        // One second in, at 120 quarters a minute: two quarters, to the clock's millisecond.
        MUSIC_TIME seek = 0;
        segment.GetSeek(&seek);
        EXPECT_NEAR(seek, 1229, 2);  // at the end of the 1.6-quarter segment
        platform::music::REFERENCE_TIME first = 0;
        segment.GetStartTime(&first);

        // Played again and stopped at once: pending notes never sound.
        segment.Play(output);
        platform::music::REFERENCE_TIME second = 0;
        segment.GetStartTime(&second);
        EXPECT_NEAR(double(second - first), 10'000'000.0, 20'000.0);  // 1 s of audio between
        renderer->Render(std::size_t(rate / 10));
        EXPECT_EQ(segment.Stop(), 0);
        const auto after = renderer->Render(std::size_t(rate));
        EXPECT_LT(Rms(LeftChannel(after, std::size_t(0.4 * rate), std::size_t(0.3 * rate))), 0.001);
        segment.GetSeek(&seek);
        EXPECT_EQ(seek, 1229);  // the state keeps counting audio time

        // Two performances at once: stopping one leaves the other's notes to come.
        musicport::CSegment other;
        other = segment;
        segment.Play(output);
        other.Play(output);
        renderer->Render(std::size_t(rate / 10));
        segment.Stop();
        const auto rest = renderer->Render(std::size_t(rate));
        const auto secondNote =
            LeftChannel(rest, std::size_t(0.35 * rate), std::size_t(0.2 * rate));
        EXPECT_GT(Rms(secondNote), 0.01);
        EXPECT_NEAR(PitchHz(secondNote, rate), 880.0, 8.8);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

}  // namespace
}  // namespace tests::fluidsynth
