// A MIDI file played as a segment on the built-in synthesizer, rendered offline.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "musicport/CCollection.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CDMusicException.h"
#include "musicport/CInstrument.h"
#include "musicport/CSegment.h"
#include "musicport/CSegmentLoader.h"
#include "platform/fluidsynth/SoundFontLoader.h"
#include "tests/musicport/MidiFixtures.h"
#include "tests/musicport/WaveFixtures.h"
#include "tests/platform/fluidsynth/ActivateFirstOutput.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/OfflineMusicSystem.h"

namespace tests::fluidsynth {
namespace {

using musicport::MUSIC_TIME;

// Takes the collection's instrument with `patch` (a melodic program of bank 0) into `out`.
void InstrumentAt(musicport::CCollection& collection, DWORD patch, musicport::CInstrument& out) {
    musicport::InstrumentInfo info;
    for (DWORD i = 0; collection.EnumInstrument(i, &info) == S_OK; ++i) {
        if (info.dwPatchInCollection == patch) {
            collection.GetInstrument(out, &info);
            return;
        }
    }
    ADD_FAILURE() << "no instrument with patch " << patch;
}

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

// A loop repeated so often that the music after it is due 2^32 ms away: that is beyond what
// the synthesizer's sequencer can count, and it must never play (not wrap round to now).
TEST(SegmentRenderTest, MusicDueBeyondTheSequencersRangeNeverPlays) {
    wave::ScratchDir dir("segment-far");
    const std::string path = dir.File("far.mid");
    // 1024 ms a quarter; one note at quarter 2, for a sixteenth.
    wave::WriteFile(
        path, midi::Smf(0, 480,
                        {midi::Track({midi::Tempo(0, 1'024'000), midi::Ev(960, {0x90, 69, 110}),
                                      midi::Ev(120, {0x80, 69, 0}), midi::EndOfTrack(360)})}));
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
        segment.SetLoopPoints(0, musicport::DMUS_PPQ);  // the silent first quarter
        const auto level = [&](double from, double to) {
            const auto sound = renderer->Render(std::size_t(to * rate));
            return Rms(
                LeftChannel(sound, std::size_t(from * rate), std::size_t((to - from) * rate)));
        };

        segment.SetRepeats(1);  // the note comes after 3 quarters: 3.072 s
        segment.Play(output);
        EXPECT_GT(level(3.1, 3.3), 0.01);
        renderer->Render(std::size_t(rate));  // the note dies away

        segment.SetRepeats(4'194'304);  // 2^22 quarters of 1024 ms each: 2^32 ms
        segment.Play(output);
        EXPECT_LT(level(0.0, 3.5), 0.001);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

// The offline synthesizer with the SoundFont loader, for collections.
class OfflineSystemWithLoader final : public IMusicSystem {
public:
    HRESULT CreateMusic(std::unique_ptr<IMusic>* music) override {
        return offline.CreateMusic(music);
    }
    HRESULT CreateLoader(std::unique_ptr<IMusicLoader>* loader) override {
        *loader = std::make_unique<platform::fluidsynth::SoundFontLoader>();
        return S_OK;
    }
    OfflineMusicSystem offline;
};

// Timbre of note 69 played by a one-second segment that first selects `program` on channel 1;
// `prepare` runs on the active port and the loaded collection before the segment plays.
using Prepare =
    std::function<void(musicport::COutputPort&, musicport::CCollection&, musicport::CSegment&)>;
std::vector<double> SegmentTimbre(BYTE program, const Prepare& prepare) {
    wave::ScratchDir dir("segment-program");
    const std::string path = dir.File("program.mid");
    wave::WriteFile(
        path, midi::Smf(0, 480,
                        {midi::Track({midi::Ev(0, {0xC0, program}), midi::Ev(0, {0x90, 69, 110}),
                                      midi::Ev(960, {0x80, 69, 0}), midi::EndOfTrack()})}));
    OfflineSystemWithLoader system;
    musicport::CDirectMusic music(system);
    musicport::COutputPort output;
    musicport::PortInfo info{};
    musicport::CDLSLoader loader(system);
    musicport::CCollection collection;
    musicport::CSegment segment;
    ActivateFirstOutput(music, output, &info);
    loader.Initialize();
    loader.LoadDLS(nullptr, collection);
    musicport::CSegmentLoader::LoadSegment(path.c_str(), segment, 1);
    if (prepare)
        prepare(output, collection, segment);
    segment.Play(output);
    auto renderer = system.offline.backend->LastPortRenderer();
    const int rate = renderer->SampleRate();
    const auto sound = renderer->Render(std::size_t(rate / 2));
    const auto window = LeftChannel(sound, std::size_t(rate / 10), 8192);
    EXPECT_NEAR(PitchHz(window, rate), 440.0, 4.4);
    return HarmonicProfile(window, rate, 440.0, 6);
}

double Distance(const std::vector<double>& a, const std::vector<double>& b) {
    double d = 0;
    for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i)
        d += std::abs(a[i] - b[i]);
    return d;
}

// A segment's program changes select what is downloaded to the port: an instrument renumbered
// onto the program, or the instruments of the collection the segment is connected to.
TEST(SegmentRenderTest, ProgramChangesSelectTheInstrumentsDownloadedToThePort) {
    constexpr BYTE kFlute = 73;
    try {
        const auto flute = SegmentTimbre(kFlute, {});
        const auto brightPiano = SegmentTimbre(1, {});
        ASSERT_GT(Distance(flute, brightPiano), 0.2) << "the two instruments must differ";

        musicport::CInstrument renumbered;
        const auto fluteAsProgram1 =
            SegmentTimbre(1, [&](musicport::COutputPort& output, musicport::CCollection& collection,
                                 musicport::CSegment&) {
                InstrumentAt(collection, kFlute, renumbered);
                renumbered.SetPatch(1);
                ASSERT_EQ(output.DownloadInstrument(renumbered), 0);
            });
        EXPECT_LT(Distance(fluteAsProgram1, flute), 0.05);

        const auto connected = SegmentTimbre(
            kFlute, [&](musicport::COutputPort& output, musicport::CCollection& collection,
                        musicport::CSegment& segment) {
                ASSERT_EQ(segment.ConnectToDLS(collection), 0);
                ASSERT_EQ(segment.Download(output), 0);
                ASSERT_EQ(segment.Unload(output), 0);
                ASSERT_EQ(segment.Download(output), 0);
            });
        EXPECT_LT(Distance(connected, flute), 0.05);
    } catch (const musicport::CDMusicException& e) {
        FAIL() << e.GetReport();
    }
}

}  // namespace
}  // namespace tests::fluidsynth
