#include "musicport/MidiFileReader.h"

#include <gtest/gtest.h>

#include "tests/musicport/MidiFixtures.h"

namespace musicport {
namespace {

using namespace tests::midi;

struct Flat {
    std::uint32_t tick;
    std::uint16_t track;
    std::vector<std::uint8_t> bytes;
    bool operator==(const Flat&) const = default;
};
std::vector<Flat> Events(const MidiFile& file) {
    std::vector<Flat> out;
    for (const MidiFileEvent& e : file.events)
        out.push_back({e.tick, e.track, {e.bytes, e.bytes + e.length}});
    return out;
}

TEST(MidiFileReader, FormatZeroWithRunningStatusAndSkippedEvents) {
    const Bytes bytes =
        Smf(0, 96,
            {Track({Ev(0, {0xFF, 0x03, 0x02, 'h', 'i'}),                         // name: skipped
                    Ev(0, {0xC0, 5}), Ev(0, {0x90, 60, 100}), Ev(10, {64, 90}),  // running status
                    Ev(0, {0xF0, 0x03, 0x7E, 0x7F, 0xF7}),                       // sysex: skipped
                    Ev(20, {0x80, 60, 0}), Ev(0, {0xE3, 0x00, 0x40}), EndOfTrack(5)})});
    MidiFile file;
    ASSERT_EQ(ReadMidiFile(bytes, file), MidiFileStatus::Ok);
    EXPECT_EQ(file.format, 0);
    EXPECT_EQ(file.ticksPerQuarter, 96);
    EXPECT_EQ(Events(file), (std::vector<Flat>{{0, 0, {0xC0, 5}},
                                               {0, 0, {0x90, 60, 100}},
                                               {10, 0, {0x90, 64, 90}},
                                               {30, 0, {0x80, 60, 0}},
                                               {30, 0, {0xE3, 0x00, 0x40}}}));
    EXPECT_EQ(file.lengthTicks, 35u);
}

TEST(MidiFileReader, FormatOneTracksMergeByTickInTrackOrder) {
    const Bytes bytes = Smf(1, 480,
                            {Track({Tempo(0, 600'000), Tempo(960, 400'000), EndOfTrack()}),
                             Chunk("XFIH", {1, 2, 3}),  // unknown chunk: skipped
                             Track({Ev(480, {0x91, 60, 1}), EndOfTrack(480)}),
                             Track({Ev(0, {0x92, 62, 2}), Ev(480, {0x92, 63, 3}), EndOfTrack()})});
    MidiFile file;
    ASSERT_EQ(ReadMidiFile(bytes, file), MidiFileStatus::Ok);
    EXPECT_EQ(file.tracks, 3);
    EXPECT_EQ(Events(file),
              (std::vector<Flat>{
                  {0, 2, {0x92, 62, 2}}, {480, 1, {0x91, 60, 1}}, {480, 2, {0x92, 63, 3}}}));
    ASSERT_EQ(file.tempos.size(), 2u);
    EXPECT_EQ(file.tempos[1].tick, 960u);
    EXPECT_EQ(file.tempos[1].microsecondsPerQuarter, 400'000u);
    EXPECT_EQ(file.lengthTicks, 960u);

    // SMPTE timing: 25 frames of 40 ticks.
    MidiFile smpte;
    ASSERT_EQ(ReadMidiFile(Smf(0, 0xE728, {Track({EndOfTrack()})}), smpte), MidiFileStatus::Ok);
    EXPECT_EQ(smpte.framesPerSecond, 25);
    EXPECT_EQ(smpte.ticksPerFrame, 40);
}

// The texts a song takes over: the file's first non-empty copyright notice wherever it
// stands, and each track's first non-empty name, as the bytes the file holds.
TEST(MidiFileReader, KeepsTheCopyrightAndTheTrackNames) {
    const Bytes bytes =
        Smf(1, 96,
            {Track({Ev(0, {0xFF, 0x03, 0x00}),                           // empty: not a name
                    Ev(0, {0xFF, 0x03, 0x04, 'S', 'o', 'n', 'g'}),       // the name
                    Ev(0, {0xFF, 0x03, 0x05, 'L', 'a', 't', 'e', 'r'}),  // not the first
                    Ev(0, {0xFF, 0x01, 0x02, 'h', 'i'}), EndOfTrack()}),
             Track({Ev(0, {0x90, 60, 1}), EndOfTrack()}),  // no name
             Track({Ev(0, {0xFF, 0x02, 0x03, 'C', 0x00, 0xD7}),
                    Ev(0, {0xFF, 0x02, 0x01, 'X'}),  // a second notice
                    Ev(0, {0xFF, 0x03, 0x02, 0xD6, 0xD0}), EndOfTrack()})});
    MidiFile file;
    ASSERT_EQ(ReadMidiFile(bytes, file), MidiFileStatus::Ok);
    EXPECT_EQ(file.copyright, std::string("C\0\xD7", 3));
    EXPECT_EQ(file.trackNames, (std::vector<std::string>{"Song", "", "\xD6\xD0"}));
    EXPECT_EQ(Events(file), (std::vector<Flat>{{0, 1, {0x90, 60, 1}}}));

    // Nothing half-read stays behind after a failure.
    Bytes cut = bytes;
    cut.resize(cut.size() - 4);
    EXPECT_EQ(ReadMidiFile(cut, file), MidiFileStatus::BadTrackLength);
    EXPECT_TRUE(file.copyright.empty());
    EXPECT_TRUE(file.trackNames.empty());
    EXPECT_EQ(MidiFileStatusText(MidiFileStatus::BadTrackLength),
              "a chunk claims more bytes than the file has");
}

TEST(MidiFileReader, RefusesMalformedFiles) {
    const Bytes good = TwoNotes();
    Bytes cut = good;
    cut.resize(cut.size() - 5);
    Bytes cutInsideEvent = Smf(0, 96, {Track({Ev(0, {0x90, 60})})});
    struct Case {
        const char* name;
        Bytes file;
        MidiFileStatus expected;
    };
    const Case cases[] = {
        {"empty", {}, MidiFileStatus::NotMidi},
        {"not MThd", Chunk("RIFF", Bytes(10, 0)), MidiFileStatus::NotMidi},
        {"format 2", Smf(2, 96, {Track({EndOfTrack()})}), MidiFileStatus::UnsupportedFormat},
        {"zero division", Smf(0, 0, {Track({EndOfTrack()})}), MidiFileStatus::UnsupportedFormat},
        {"track claims 4 GB", Smf(0, 96, {Chunk("MTrk", EndOfTrack(), 0xFFFFFFF0)}),
         MidiFileStatus::BadTrackLength},
        {"header claims 4 GB",
         [] {
             Bytes b = TwoNotes();
             b[4] = b[5] = b[6] = 0xFF;
             return b;
         }(),
         MidiFileStatus::BadTrackLength},
        {"file cut inside a track", cut, MidiFileStatus::BadTrackLength},
        {"track ends inside an event", cutInsideEvent, MidiFileStatus::Truncated},
        {"fewer tracks than declared", Smf(1, 96, {Track({EndOfTrack()})}, 2),
         MidiFileStatus::Truncated},
        {"data before any status", Smf(0, 96, {Track({Ev(0, {60, 100}), EndOfTrack()})}),
         MidiFileStatus::NoRunningStatus},
        {"running status across tracks",
         Smf(1, 96,
             {Track({Ev(0, {0x90, 60, 100}), Ev(0, {0xFF, 0x01, 0x00})}),
              Track({Ev(0, {62, 100}), EndOfTrack()})}),
         MidiFileStatus::NoRunningStatus},
        {"running status after a meta event",
         Smf(0, 96, {Track({Ev(0, {0x90, 60, 100}), Ev(0, {0xFF, 0x01, 0x00}), Ev(0, {62, 100})})}),
         MidiFileStatus::NoRunningStatus},
        {"running status after system exclusive",
         Smf(0, 96,
             {Track({Ev(0, {0x90, 60, 100}), Ev(0, {0xF0, 0x01, 0xF7}), Ev(0, {62, 100}),
                     EndOfTrack()})}),
         MidiFileStatus::NoRunningStatus},
        {"five-byte delta", Smf(0, 96, {Track({Bytes{0x80, 0x80, 0x80, 0x80, 0x00}})}),
         MidiFileStatus::BadEvent},
        {"status byte as data", Smf(0, 96, {Track({Ev(0, {0x90, 0x90, 100}), EndOfTrack()})}),
         MidiFileStatus::BadEvent},
        {"tempo of two bytes", Smf(0, 96, {Track({Ev(0, {0xFF, 0x51, 0x02, 1, 2}), EndOfTrack()})}),
         MidiFileStatus::BadEvent},
        {"tempo of 0", Smf(0, 96, {Track({Ev(0, {0xFF, 0x51, 0x03, 0, 0, 0}), EndOfTrack()})}),
         MidiFileStatus::BadEvent},
        {"sysex longer than its track", Smf(0, 96, {Track({Ev(0, {0xF0, 0x7F, 1})})}),
         MidiFileStatus::Truncated},
        {"ticks beyond 2^31",
         Smf(0, 96,
             {Track({Ev(0x0FFFFFFF, {0xC0, 1}), Ev(0x0FFFFFFF, {0xC0, 1}),
                     Ev(0x0FFFFFFF, {0xC0, 1}), Ev(0x0FFFFFFF, {0xC0, 1}),
                     Ev(0x0FFFFFFF, {0xC0, 1}), Ev(0x0FFFFFFF, {0xC0, 1}),
                     Ev(0x0FFFFFFF, {0xC0, 1}), Ev(0x0FFFFFFF, {0xC0, 1}),
                     Ev(0x0FFFFFFF, {0xC0, 1})})}),
         MidiFileStatus::TooLong},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFile file;
        file.format = 7;
        EXPECT_EQ(ReadMidiFile(c.file, file), c.expected);
        EXPECT_TRUE(file.events.empty());
        EXPECT_EQ(file.format, 0);  // nothing half-read is left behind
    }
}

}  // namespace
}  // namespace musicport
