#include "musicport/CSegment.h"

#include <gmock/gmock.h>

#include "MusicPortFixture.h"
#include "musicport/CDLSLoader.h"
#include "musicport/CSegmentLoader.h"
#include "tests/musicport/MidiFixtures.h"
#include "tests/musicport/WaveFixtures.h"

namespace musicport::test {
namespace {

namespace midi = tests::midi;

class Segment : public MusicPortFixture {
protected:
    void SetUp() override {
        MusicPortFixture::SetUp();
        tests::wave::WriteFile(path, midi::TwoNotes());
        CSegmentLoader::LoadSegment(path.c_str(), segment, 1);
    }
    tests::wave::ScratchDir dir{"csegment"};
    std::string path = dir.File("two.mid");
    CSegment segment;
};

TEST_F(Segment, MidiFileLoadsWithItsLengthAndAccessors) {
    MUSIC_TIME length = 0;
    ASSERT_EQ(segment.GetLength(&length), 0);
    EXPECT_EQ(length, 1229);  // 768 ticks of 480 a quarter: 1.6 quarters
    MUSIC_TIME start = -1;
    MUSIC_TIME end = -1;
    segment.GetLoopPoints(&start, &end);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(end, 0);

    EXPECT_EQ(segment.SetLoopPoints(DMUS_PPQ / 2, DMUS_PPQ), 0);
    segment.GetLoopPoints(&start, &end);
    EXPECT_EQ(start, DMUS_PPQ / 2);
    EXPECT_EQ(end, DMUS_PPQ);
    EXPECT_EQ(segment.SetDefaultResolution(4), 0);
    DWORD resolution = 0;
    segment.GetDefaultResolution(&resolution);
    EXPECT_EQ(resolution, 4u);
    EXPECT_EQ(segment.SetLength(1000), 0);
    segment.GetLength(&length);
    EXPECT_EQ(length, 1000);

    for (const auto& [from, to] : {std::pair{-1, 10}, {10, 10}, {0, 1001}}) {
        const Thrown thrown = Catch([&] { segment.SetLoopPoints(from, to); });
        EXPECT_EQ(thrown.code, pm::E_INVALIDARG);
        EXPECT_EQ(thrown.label, "CSegment::SetLoopPoints()");
    }
    EXPECT_EQ(segment.SetStartPoint(999), 0);
    EXPECT_EQ(Catch([&] { segment.SetStartPoint(1000); }).code, pm::E_INVALIDARG);
    EXPECT_EQ(Catch([&] { segment.SetLength(0); }).code, pm::E_INVALIDARG);
}

TEST_F(Segment, MissingSegmentStateOrPointerThrowsMinusOneWithItsLabel) {
    CSegment empty;
    CDLSLoader loader(system);
    loader.Initialize();
    CCollection unloaded;
    CCollection collection;
    loader.LoadDLS(nullptr, collection);
    MUSIC_TIME time = 0;
    DWORD value = 0;
    pm::REFERENCE_TIME reference = 0;
    SegmentData data;
    struct Case {
        const char* label;
        std::function<void()> call;
    };
    const Case cases[] = {
        {"CSegment::Download()", [&] { empty.Download(port); }},
        {"CSegment::Download()", [&] { segment.Download(port); }},  // port not active
        {"CSegment::Unload()", [&] { empty.Unload(port); }},
        {"CSegment::SetStartPoint()", [&] { empty.SetStartPoint(0); }},
        {"CSegment::GetDefaultResolution()", [&] { empty.GetDefaultResolution(&value); }},
        {"CSegment::GetDefaultResolution()", [&] { segment.GetDefaultResolution(nullptr); }},
        {"CSegment::SetDefaultResolution()", [&] { empty.SetDefaultResolution(0); }},
        {"CSegment::SetLength()", [&] { empty.SetLength(10); }},
        {"CSegment::GetLength()", [&] { empty.GetLength(&time); }},
        {"CSegment::GetLength()", [&] { segment.GetLength(nullptr); }},
        {"CSegment::GetLoopPoints()", [&] { segment.GetLoopPoints(&time, nullptr); }},
        {"CSegment::SetLoopPoints()", [&] { empty.SetLoopPoints(0, 0); }},
        {"CSegment::SetRepeats()", [&] { empty.SetRepeats(1); }},
        {"CSegment::SetPChannelUsed()", [&] { segment.SetPChannelUsed(2, nullptr); }},
        {"CSegment::ConnectToDLS()", [&] { empty.ConnectToDLS(collection); }},
        {"CSegment::ConnectToDLS()", [&] { segment.ConnectToDLS(unloaded); }},
        {"CSegment::GetRepeats()", [&] { segment.GetRepeats(&value); }},  // never played
        {"CSegment::GetSeek()", [&] { segment.GetSeek(&time); }},
        {"CSegment::GetSegment()", [&] { segment.GetSegment(&data); }},
        {"CSegment::GetStartPoint()", [&] { segment.GetStartPoint(&time); }},
        {"CSegment::GetStartTime()", [&] { segment.GetStartTime(&reference); }},
        {"CSegment::Play()", [&] { segment.Play(port); }},  // port not active
        {"(CSegment)CSegment::operator=(CSegment)", [&] { segment = empty; }},
        {"CDLSLoader::LoadSegment()", [&] { CSegmentLoader::LoadSegment(nullptr, empty, 1); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        const Thrown thrown = Catch(c.call);
        EXPECT_EQ(thrown.code, -1);
        EXPECT_EQ(thrown.label, c.label);
    }
    // A port without segment playback (the scripted one) cannot play it.
    Activate(1);
    EXPECT_EQ(Catch([&] { segment.Play(port); }).code, pm::E_NOINTERFACE);
    EXPECT_EQ(segment.Stop(), -1);
}

TEST_F(Segment, DownloadsAreListedAndAssignmentClones) {
    Activate(1);
    EXPECT_EQ(segment.Download(port), 0);
    EXPECT_EQ(segment.Unload(port), 0);
    const Thrown twice = Catch([&] { segment.Unload(port); });
    EXPECT_EQ(twice.code, pm::DMUS_E_NOT_DOWNLOADED_TO_PORT);
    EXPECT_EQ(twice.label, "CSegment::Unload()");
    segment.Download(port);

    CSegment copy;
    copy = segment;
    copy.SetLength(DMUS_PPQ);
    MUSIC_TIME length = 0;
    segment.GetLength(&length);
    EXPECT_EQ(length, 1229);  // the source is untouched
    // The clone is not downloaded anywhere; the source still is.
    EXPECT_EQ(Catch([&] { copy.Unload(port); }).code, pm::DMUS_E_NOT_DOWNLOADED_TO_PORT);
    EXPECT_EQ(segment.Unload(port), 0);

    // A port released before the segment leaves nothing dangling.
    segment.Download(port);
    port.DeactivatePort();
}

// A connected collection supplies the instruments the segment's program changes select:
// downloading the segment downloads them to the port, unloading or releasing it takes them
// back.
TEST_F(Segment, ConnectedCollectionInstrumentsGoWithTheSegmentsDownloads) {
    system.Collection({{0x00000000, "Piano"},
                       {0x00050007, "Bank 5 Clavinet"},
                       {0x00000007, "Clavinet"},
                       {0x80000000, "Standard"}});
    tests::wave::WriteFile(
        path, midi::Smf(0, 480,
                        {midi::Track({midi::Ev(0, {0xC0, 0}),     // Piano
                                      midi::Ev(0, {0xB1, 0, 5}),  // bank 5 ...
                                      midi::Ev(0, {0xC1, 7}),     // ... program 7
                                      midi::Ev(0, {0xC9, 0}),     // drum kit 0
                                      midi::Ev(0, {0xC2, 16}),    // not in the collection
                                      midi::Ev(0, {0xC3, 0}),     // Piano again
                                      midi::Ev(0, {0x90, 60, 100}), midi::Ev(480, {0x80, 60, 0}),
                                      midi::EndOfTrack()})}));
    CSegmentLoader::LoadSegment(path.c_str(), segment, 1);
    CDLSLoader loader(system);
    loader.Initialize();
    CCollection collection;
    loader.LoadDLS(nullptr, collection);
    Activate(1);

    // Not connected: the port's own sounds play it, nothing is downloaded.
    segment.Download(port);
    EXPECT_THAT(system.Downloaded(), ::testing::IsEmpty());
    segment.Unload(port);

    EXPECT_EQ(segment.ConnectToDLS(collection), 0);
    EXPECT_EQ(segment.Download(port), 0);
    EXPECT_THAT(system.Downloaded(), ::testing::ElementsAre(0x00000000u, 0x00050007u, 0x80000000u));
    EXPECT_EQ(segment.Unload(port), 0);
    EXPECT_THAT(system.Downloaded(), ::testing::IsEmpty());

    // A failing download throws its code and leaves nothing on the port or in the list.
    system.FailOn("DownloadInstrument", pm::E_OUTOFMEMORY);
    const Thrown failed = Catch([&] { segment.Download(port); });
    EXPECT_EQ(failed.code, pm::E_OUTOFMEMORY);
    EXPECT_EQ(failed.label, "CSegment::Download()");
    EXPECT_EQ(Catch([&] { segment.Unload(port); }).code, pm::DMUS_E_NOT_DOWNLOADED_TO_PORT);
    system.ClearFailure("DownloadInstrument");

    // A clone keeps the connection; releasing a segment takes its instruments back.
    {
        CSegment copy;
        copy = segment;
        copy.Download(port);
        EXPECT_EQ(system.Downloaded().size(), 3u);
    }
    EXPECT_THAT(system.Downloaded(), ::testing::IsEmpty());
    segment.Download(port);
    CSegmentLoader::LoadSegment(path.c_str(), segment, 1);  // a new load releases the old
    EXPECT_THAT(system.Downloaded(), ::testing::IsEmpty());

    // A port that takes no downloads cannot hold the connected instruments.
    segment.ConnectToDLS(collection);
    port.DeactivatePort();
    Activate(2);
    EXPECT_EQ(Catch([&] { segment.Download(port); }).code, pm::E_NOINTERFACE);
}

TEST_F(Segment, LoaderFailuresCarryTheirCodes) {
    CSegment target;
    EXPECT_EQ(Catch([&] { CSegmentLoader::LoadSegment("/nonexistent.mid", target, 1); }).code,
              pm::DMUS_E_LOADER_FAILEDOPEN);
    tests::wave::WriteFile(path, midi::Smf(2, 96, {midi::Track({midi::EndOfTrack()})}));
    const Thrown bad = Catch([&] { CSegmentLoader::LoadSegment(path.c_str(), target, 1); });
    EXPECT_EQ(bad.code, pm::DMUS_E_LOADER_FORMATNOTSUPPORTED);
    EXPECT_EQ(bad.label, "CDLSLoader::LoadSegment()");
    EXPECT_FALSE(target.IsLoaded());

    // Loading again releases what the segment held first, even when the load fails.
    EXPECT_TRUE(segment.IsLoaded());
    Catch([&] { CSegmentLoader::LoadSegment(path.c_str(), segment, 1); });
    EXPECT_FALSE(segment.IsLoaded());

    // Resources: any failure is E_FAIL.
    const midi::Bytes good = midi::TwoNotes();
    const ResourceLookup resources = [&](std::string_view name, std::string_view,
                                         std::vector<std::uint8_t>& bytes) {
        if (name == "missing")
            return false;
        bytes = name == "song" ? good : midi::Bytes{1, 2, 3};
        return true;
    };
    for (const char* name : {"missing", "broken"}) {
        const Thrown t = Catch(
            [&] { CSegmentLoader::LoadSegmentFromResource(name, "MIDI", target, 1, resources); });
        EXPECT_EQ(t.code, pm::E_FAIL);
        EXPECT_EQ(t.label, "CDLSLoader::LoadSegmentFromResource()");
    }
    EXPECT_EQ(CSegmentLoader::LoadSegmentFromResource("song", "MIDI", target, 1, resources), 0);
    EXPECT_TRUE(target.IsLoaded());
}

// Timing of a performance: tempo map, start point, loop and repeats.
// The loader's own members reach the same readers: a file once the loader exists, a program
// resource through its resource finder.
TEST_F(Segment, TheLoaderLoadsSegmentsFromFilesAndResources) {
    CDLSLoader loader(system);
    CSegment fromFile;
    try {
        loader.LoadSegment(path.c_str(), fromFile, 1);
        ADD_FAILURE() << "loaded without a loader";
    } catch (const CDMusicException& e) {
        EXPECT_EQ(e.GetCode(), -1);
    }
    loader.Initialize();
    EXPECT_EQ(loader.LoadSegment(path.c_str(), fromFile, 1), 0);
    MUSIC_TIME length = 0;
    fromFile.GetLength(&length);
    EXPECT_EQ(length, 1229);

    static const std::vector<BYTE> twoNotes = midi::TwoNotes();
    loader.SetResourceFinder(
        [](std::string_view name, std::string_view type) -> std::optional<std::span<const BYTE>> {
            if (name == "TUNE" && type == "MIDI")
                return std::span<const BYTE>(twoNotes);
            return std::nullopt;
        });
    CSegment fromResource;
    EXPECT_EQ(loader.LoadSegmentFromResource("TUNE", "MIDI", fromResource, 1), 0);
    length = 0;
    fromResource.GetLength(&length);
    EXPECT_EQ(length, 1229);
    EXPECT_THROW(loader.LoadSegmentFromResource("NONE", "MIDI", fromResource, 1), CDMusicException);
}

TEST(SegmentData, ScheduleFollowsTempoLoopAndRepeats) {
    SegmentData data;
    data.length = 4 * DMUS_PPQ;
    data.tempos = {{0, 500'000}, {2 * DMUS_PPQ, 250'000}};  // 120, then 240 quarters a minute
    for (MUSIC_TIME q = 0; q < 4; ++q)
        data.events.push_back({q * DMUS_PPQ, 17, 3, {0x90, BYTE(60 + q), 100}});
    EXPECT_DOUBLE_EQ(data.MillisecondsAt(2 * DMUS_PPQ), 1000.0);
    EXPECT_DOUBLE_EQ(data.MillisecondsAt(3 * DMUS_PPQ), 1250.0);

    const auto offsets = [&] {
        std::vector<std::pair<int, int>> out;  // (ms, note)
        for (const auto& m : data.Schedule(100))
            out.emplace_back(int(m.offset / 10'000), m.bytes[1]);
        return out;
    };
    using P = std::vector<std::pair<int, int>>;
    EXPECT_EQ(offsets(), (P{{0, 60}, {500, 61}, {1000, 62}, {1250, 63}}));
    EXPECT_EQ(data.Schedule(100).front().channelGroup, 2u);  // pchannel 17: group 2

    data.loopStart = DMUS_PPQ;
    data.loopEnd = 2 * DMUS_PPQ;
    data.repeats = 2;
    EXPECT_EQ(offsets(), (P{{0, 60}, {500, 61}, {1000, 61}, {1500, 61}, {2000, 62}, {2250, 63}}));

    data.startPoint = 3 * DMUS_PPQ;  // past the loop: only the rest plays
    EXPECT_EQ(offsets(), (P{{0, 63}}));

    data.startPoint = 0;
    std::vector<SegmentData::Pass> passes;
    // Endless, or more repeats than the budget holds: the budget ends the plan, which stays
    // small, and the loop keeps its timing however far into it.
    for (const DWORD repeats : {DMUS_SEG_REPEAT_INFINITE, DWORD{1'000'000'000}}) {
        SCOPED_TRACE(repeats);
        data.repeats = repeats;
        const auto messages = data.Schedule(50, &passes);
        ASSERT_EQ(messages.size(), 50u);
        EXPECT_LE(passes.size(), 3u);
        EXPECT_EQ(messages.back().offset / 10'000, 500 * 49);  // the 49th repeat of note 61
        EXPECT_EQ(data.SeekAt(passes, 500.0 * 100'000 + 250.0), DMUS_PPQ + DMUS_PPQ / 2);
    }
    // A silent loop repeated a billion times puts what follows it that far away.
    data.events = {{0, 0, 3, {0x90, 60, 100}}, {3 * DMUS_PPQ, 0, 3, {0x90, 63, 100}}};
    const auto far = data.Schedule(100);
    ASSERT_EQ(far.size(), 2u);
    EXPECT_EQ(far[1].offset / 10'000, 1000 + 500LL * 1'000'000'000 + 250);
    data.events.clear();
    for (MUSIC_TIME q = 0; q < 4; ++q)
        data.events.push_back({q * DMUS_PPQ, 17, 3, {0x90, BYTE(60 + q), 100}});

    data.repeats = 1;
    data.Schedule(100, &passes);
    EXPECT_EQ(data.SeekAt(passes, 750.0), DMUS_PPQ + DMUS_PPQ / 2);       // first pass
    EXPECT_EQ(data.SeekAt(passes, 1250.0), DMUS_PPQ + DMUS_PPQ / 2);      // the repeat
    EXPECT_EQ(data.SeekAt(passes, 1625.0), 2 * DMUS_PPQ + DMUS_PPQ / 2);  // faster tempo
}

}  // namespace
}  // namespace musicport::test
