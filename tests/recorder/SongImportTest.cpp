// Songs made from Standard MIDI Files: the channel, track and program taken, times through the
// tempo map that stay on time, silent fillers over long rests, releases at the end, the texts,
// the round trips through the MIDI export, the player replaying an import, and refused files.

#include "recorder/SongImport.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <bitset>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>

#include "FakeClocks.h"
#include "Fifo.h"
#include "musicport/MidiFileClock.h"
#include "platform/file/FileIo.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/IPlaybackSink.h"
#include "recorder/SongExport.h"
#include "recorder/SongPlayer.h"
#include "tests/musicport/MidiFixtures.h"

namespace {

using namespace recorder;
using namespace tests::midi;
namespace fs = std::filesystem;
using ::testing::ElementsAre;

// A tick is a millisecond: 1,000 ticks a quarter at 1,000,000 µs a quarter.
constexpr std::uint16_t kMsTicks = 1000;
Bytes MsTempo() {
    return Tempo(0, 1'000'000);
}

constexpr NoteEvent On(std::uint8_t note, std::uint8_t velocity, std::uint32_t delay) {
    return MakeNoteEvent(std::uint16_t(kNoteOnBit | velocity << 8 | note), delay);
}
constexpr NoteEvent Off(std::uint8_t note, std::uint8_t velocity, std::uint32_t delay) {
    return MakeNoteEvent(std::uint16_t(velocity << 8 | note), delay);
}

SongImportResult Import(const Bytes& bytes, ImportedSong* song, SongImportOptions options = {}) {
    musicport::MidiFile file;
    const musicport::MidiFileStatus status = musicport::ReadMidiFile(bytes, file);
    EXPECT_EQ(status, musicport::MidiFileStatus::Ok);
    return ImportSong(file, options, song);
}

ImportedSong Imported(const Bytes& bytes, SongImportOptions options = {}) {
    ImportedSong song;
    const SongImportResult result = Import(bytes, &song, std::move(options));
    EXPECT_TRUE(result.Ok()) << int(result.status);
    return song;
}

SongImportOptions Options(int channel, int track = 0, int program = -1) {
    SongImportOptions options;
    options.channel = channel;
    options.track = track;
    options.program = program;
    return options;
}

// Every filler (a note-off of velocity 0) finds its note silent, and no note sounds at the end.
void ExpectFillersSilentAndNothingHeld(const std::vector<NoteEvent>& events, std::size_t fillers) {
    std::bitset<128> sounding;
    std::size_t silentReleases = 0;
    for (const NoteEvent e : events) {
        const std::uint16_t code = NoteCodeOf(e);
        const std::size_t note = code & 0x7F;
        const bool on = (code & kNoteOnBit) != 0 && (code & 0x7F00) != 0;
        if ((code & 0xFF00) == 0 && !sounding[note])
            ++silentReleases;
        sounding[note] = on;
    }
    EXPECT_GE(silentReleases, fillers);
    EXPECT_TRUE(sounding.none());
}

TEST(SongImportTest, TakesTheChannelTrackAndProgramAsked) {
    // Track 1 the tempo and the name; track 2 drums on 10, channel 3 (program 40) and channel 2's
    // first program change; track 3 channel 2's notes and a later program change.
    const Bytes file = Smf(
        1, kMsTicks,
        {Track({MsTempo(), Ev(0, {0xFF, 0x03, 0x04, 'T', 'u', 'n', 'e'}), EndOfTrack()}),
         Track({Ev(0, {0x99, 36, 100}), Ev(0, {0xC2, 40}), Ev(5, {0xC1, 20}), Ev(5, {0x92, 64, 90}),
                Ev(10, {0x82, 64, 64}), Ev(0, {0x89, 36, 0}), EndOfTrack()}),
         Track(
             {Ev(20, {0x91, 62, 80}), Ev(10, {0xC1, 30}), Ev(10, {0x81, 62, 70}), EndOfTrack()})});
    struct Case {
        const char* name;
        SongImportOptions options;
        int channel;
        std::uint32_t program;
        std::vector<NoteEvent> events;
    };
    const Case cases[] = {
        {"the lowest channel with notes, not the drums",
         {},
         2,
         21,
         {Off(0, 0, 0), On(62, 80, 20), Off(62, 70, 20)}},
        {"drums when asked", Options(10), 10, 1, {On(36, 100, 0), Off(36, 0, 20)}},
        {"the channel's own program",
         Options(3),
         3,
         41,
         {Off(0, 0, 0), On(64, 90, 10), Off(64, 64, 10)}},
        {"one track: its lowest channel",
         Options(0, 2),
         3,
         41,
         {Off(0, 0, 0), On(64, 90, 10), Off(64, 64, 10)}},
        {"the program given",
         Options(0, 0, 5),
         2,
         6,
         {Off(0, 0, 0), On(62, 80, 20), Off(62, 70, 20)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImportedSong song = Imported(file, c.options);
        EXPECT_EQ(song.channel, c.channel);
        EXPECT_EQ(song.header.program, c.program);
        EXPECT_EQ(song.events, c.events);
        EXPECT_EQ(song.header.portFlags, 0u);
        EXPECT_EQ(DecodeSongText(song.header.title), "Tune");
        EXPECT_EQ(song.notesByChannel[1] + song.notesByChannel[2] + song.notesByChannel[9],
                  c.options.track == 2 ? 2u : 3u);
    }

    struct Refusal {
        const char* name;
        SongImportOptions options;
        SongImportStatus status;
    };
    const Refusal refusals[] = {
        {"a channel without notes", Options(4), SongImportStatus::NoNotes},
        {"a track without notes", Options(0, 1), SongImportStatus::NoNotes},
        {"a track the file lacks", Options(0, 4), SongImportStatus::NoSuchTrack},
    };
    for (const Refusal& r : refusals) {
        SCOPED_TRACE(r.name);
        ImportedSong song;
        EXPECT_EQ(Import(file, &song, r.options).status, r.status);
        EXPECT_TRUE(song.events.empty());
        EXPECT_EQ(song.tracks, 3u);
    }
    ImportedSong drumsOnly;
    EXPECT_EQ(
        Import(Smf(0, 96, {Track({Ev(0, {0x99, 36, 100}), EndOfTrack()})}), &drumsOnly).status,
        SongImportStatus::NoNotes);
    EXPECT_EQ(drumsOnly.notesByChannel[9], 1u);
}

TEST(SongImportTest, LongRestsAreBridgedBySilentFillers) {
    struct Case {
        const char* name;
        Bytes file;
        std::vector<NoteEvent> events;
        std::size_t fillers;
    };
    const Case cases[] = {
        // 70 s of rest: a filler at 65,535 ms, the note 4,465 ms after it. A song that starts
        // at 500 ms starts with a filler at 0.
        {"70 s",
         Smf(0, kMsTicks,
             {Track({MsTempo(), Ev(500, {0x90, 60, 100}), Ev(500, {0x80, 60, 64}),
                     Ev(70'000, {0x90, 62, 100}), Ev(500, {0x80, 62, 64}), EndOfTrack()})}),
         {Off(0, 0, 0), On(60, 100, 500), Off(60, 64, 500), Off(0, 0, 65'535), On(62, 100, 4'465),
          Off(62, 64, 500)},
         2},
        {"exactly 65,535 ms needs none",
         Smf(0, kMsTicks,
             {Track(
                 {MsTempo(), Ev(0, {0x90, 60, 100}), Ev(65'535, {0x80, 60, 64}), EndOfTrack()})}),
         {On(60, 100, 0), Off(60, 64, 65'535)},
         0},
        // Notes 0 and 1 held over 200 s: three fillers on note 2.
        {"200 s over held notes",
         Smf(0, kMsTicks,
             {Track({MsTempo(), Ev(0, {0x90, 0, 100}), Ev(0, {0x90, 1, 100}),
                     Ev(200'000, {0x80, 0, 64}), Ev(0, {0x80, 1, 64}), EndOfTrack()})}),
         {On(0, 100, 0), On(1, 100, 0), Off(2, 0, 65'535), Off(2, 0, 65'535), Off(2, 0, 65'535),
          Off(0, 64, 3'395), Off(1, 64, 0)},
         3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ImportedSong song = Imported(c.file);
        EXPECT_EQ(song.events, c.events);
        EXPECT_EQ(song.fillers, c.fillers);
        ExpectFillersSilentAndNothingHeld(song.events, c.fillers);
    }
}

TEST(SongImportTest, KeepsNoteMessagesAsTheyAreAndReleasesWhatSoundsAtTheEnd) {
    // Running status, system-exclusive and meta events between the notes, a note-on of
    // velocity 0, controllers and pitch bend of the same channel, other channels.
    const Bytes file =
        Smf(0, kMsTicks,
            {Track({MsTempo(), Ev(0, {0x90, 60, 100}), Ev(10, {64, 90}),
                    Ev(0, {0xF0, 0x03, 0x7E, 0x7F, 0xF7}), Ev(0, {0xB0, 64, 127}),
                    Ev(0, {0xE0, 0, 0x50}), Ev(0, {0xFF, 0x01, 0x01, 'x'}), Ev(10, {0x90, 60, 0}),
                    Ev(0, {0x91, 70, 100}), Ev(10, {0x80, 67, 33}), Ev(0, {0x90, 72, 1}),
                    EndOfTrack(480)})});
    const ImportedSong song = Imported(file);
    // Note 64 and note 72 still sound: released at the end of the track, lowest first.
    EXPECT_EQ(song.events, (std::vector<NoteEvent>{On(60, 100, 0), On(64, 90, 10), On(60, 0, 10),
                                                   Off(67, 33, 10), On(72, 1, 0), Off(64, 0, 480),
                                                   Off(72, 0, 0)}));
    EXPECT_EQ(song.durationMs, 510u);
    EXPECT_EQ(song.fillers, 0u);

    // A song that ends on a note-on at the last tick releases it at once.
    const ImportedSong last = Imported(Smf(0, 96, {Track({Ev(96, {0x90, 60, 100})})}));
    EXPECT_EQ(last.events, (std::vector<NoteEvent>{Off(0, 0, 0), On(60, 100, 500), Off(60, 0, 0)}));
}

// Ten minutes of notes 7 ticks apart at 480 ticks a quarter, under tempos that change every
// 1,000 ticks: a tick is never a whole number of milliseconds, and every event, the last of
// the 10th minute too, is at its exact time rounded.
TEST(SongImportTest, TenMinutesStayOnTime) {
    constexpr std::uint32_t kTempos[] = {500'000, 612'345, 433'333};
    Bytes tempoTrack;
    std::vector<std::uint32_t> tempoAtTick;  // of each tick, computed apart from the importer
    for (std::uint32_t tick = 0; tick < 1'300'000; ++tick) {
        if (tick % 1000 == 0) {
            const Bytes t = Tempo(tick == 0 ? 0 : 1000, kTempos[tick / 1000 % 3]);
            tempoTrack.insert(tempoTrack.end(), t.begin(), t.end());
        }
        tempoAtTick.push_back(kTempos[tick / 1000 % 3]);
    }
    Bytes notes;
    std::vector<std::uint64_t> expectedMs;
    std::uint64_t units = 0;  // time in 1/480,000 ms
    std::uint32_t tick = 0;
    for (int i = 0; tick + 7 < tempoAtTick.size(); ++i) {
        for (int k = 0; k < 7; ++k)
            units += tempoAtTick[tick++];
        const Bytes e = Ev(7, {std::uint8_t(i % 2 == 0 ? 0x90 : 0x80), 60, 100});
        notes.insert(notes.end(), e.begin(), e.end());
        expectedMs.push_back(std::uint64_t((2 * units + 480'000) / 960'000));
        if (expectedMs.back() > 600'000 && i % 2 == 1)
            break;
    }
    const Bytes end = EndOfTrack();
    tempoTrack.insert(tempoTrack.end(), end.begin(), end.end());
    notes.insert(notes.end(), end.begin(), end.end());
    const Bytes file = Smf(1, 480, {Chunk("MTrk", tempoTrack), Chunk("MTrk", notes)});

    const ImportedSong song = Imported(file);
    ASSERT_EQ(song.events.size(), expectedMs.size() + 1);  // a filler at 0: the first note is late
    const std::vector<TimedMessage> timeline = SongTimeline(song.events);
    std::size_t late = 0;
    for (std::size_t i = 0; i < expectedMs.size(); ++i)
        late += timeline[i + 1].timeMs != expectedMs[i];
    EXPECT_EQ(late, 0u);
    EXPECT_GT(timeline.back().timeMs, 600'000u);
    EXPECT_EQ(timeline.back().timeMs, expectedMs.back());
}

TEST(SongImportTest, AnExportedSongImportsAsTheSameEvents) {
    // Fillers, a note-on of velocity 0, note-off velocities, the longest delay, a chord.
    const std::vector<NoteEvent> events = {
        Off(0, 0, 0), On(60, 100, 300),  On(64, 90, 0),        Off(60, 17, 250),
        On(64, 0, 1), Off(0, 0, 65'535), On(127, 127, 65'535), Off(127, 127, 4),
    };
    const std::vector<std::uint8_t> smf = ToStandardMidiFile(events, 12);
    const ImportedSong song = Imported(smf);
    EXPECT_EQ(song.events, events);
    EXPECT_EQ(song.header.program, 12u);
}

TEST(SongImportTest, AnImportedSongExportsAsTheSameNotesAtTheSameTimes) {
    // Two tracks at 96 ticks a quarter with tempo changes, drums beside the melody.
    const Bytes original =
        Smf(1, 96,
            {Track({Tempo(0, 512'345), Tempo(150, 377'777), Tempo(333, 1'234'567), EndOfTrack()}),
             Track({Ev(17, {0x93, 60, 100}), Ev(1, {0x99, 42, 100}), Ev(40, {0x83, 60, 64}),
                    Ev(0, {0x93, 62, 90}), Ev(123, {0x83, 62, 64}), Ev(5, {0x93, 67, 80}),
                    Ev(300, {0x83, 67, 64}), EndOfTrack()})});
    musicport::MidiFile file;
    ASSERT_EQ(musicport::ReadMidiFile(original, file), musicport::MidiFileStatus::Ok);
    const musicport::MidiFileClock clock(file);
    std::vector<std::pair<double, std::uint32_t>> notes;  // exact ms, message on channel 1
    for (const auto& e : file.events) {
        if ((e.bytes[0] & 0x0F) == 3)
            notes.emplace_back(double(clock.Units(e.tick)) / double(clock.Denominator()),
                               (e.bytes[0] & 0xF0) | e.bytes[1] << 8 | e.bytes[2] << 16);
    }

    const ImportedSong song = Imported(original);
    musicport::MidiFile exported;
    ASSERT_EQ(
        musicport::ReadMidiFile(ToStandardMidiFile(song.events, song.header.program), exported),
        musicport::MidiFileStatus::Ok);
    std::vector<std::pair<double, std::uint32_t>> back;
    for (const auto& e : exported.events) {
        const std::uint32_t msg = e.bytes[0] | e.bytes[1] << 8 | e.bytes[2] << 16;
        if (msg != 0x80 && (e.bytes[0] & 0xF0) != 0xC0)  // the filler at 0 and the program
            back.emplace_back(double(e.tick), msg);
    }
    ASSERT_EQ(back.size(), notes.size());
    for (std::size_t i = 0; i < notes.size(); ++i) {
        EXPECT_EQ(back[i].second, notes[i].second) << i;
        EXPECT_NEAR(back[i].first, notes[i].first, 0.5) << i;
    }
}

// What the player sends, and when, for an imported song written and read back.
class TimedSink final : public IPlaybackSink {
public:
    explicit TimedSink(tests::recorder::FakePlaybackTimer& timer) : timer_(timer) {}
    void SendMidiMsg(std::uint32_t msg) override {
        std::lock_guard lock(mutex_);
        sent.emplace_back(timer_.Elapsed().count(), msg);
    }
    void ShowNoteOn(std::uint8_t, std::uint8_t) override {}
    void ShowNoteOff(std::uint8_t) override {}
    void PostProgress(std::uint32_t) override {}
    void PostPlaybackDone(std::uint64_t) override {}
    std::vector<std::pair<long, std::uint32_t>> sent;

private:
    tests::recorder::FakePlaybackTimer& timer_;
    std::mutex mutex_;
};

TEST(SongImportTest, ThePlayerReplaysAnImportedFileAtItsPitchesAndTimes) {
    std::string pattern = (fs::temp_directory_path() / "import.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    // 120 quarters a minute, then 60 from the second quarter; a rest of 70 s (70 quarters).
    const Bytes file =
        Smf(0, 480,
            {Track({Tempo(0, 500'000), Ev(0, {0x95, 69, 100}), Ev(480, {0x85, 69, 64}),
                    Tempo(0, 1'000'000), Ev(480, {0x95, 81, 100}), Ev(240, {0x85, 81, 64}),
                    Ev(70 * 480, {0x95, 57, 100}), Ev(480, {0x85, 57, 64}), EndOfTrack()})});
    const ImportedSong imported = Imported(file);
    ASSERT_TRUE(WriteSongFile(dir / "song.tnd", imported.header, imported.events).Ok());
    LoadedSong loaded;
    ASSERT_TRUE(ReadSongFile(dir / "song.tnd", CNoteRecorder::kMaxEvents, &loaded).Ok());
    fs::remove_all(dir);

    tests::recorder::ManualClock clock;
    CNoteRecorder recorder(clock);
    recorder.Replace(loaded.events);
    std::recursive_mutex lock;
    tests::recorder::FakePlaybackTimer timer;
    TimedSink sink(timer);
    {
        SongPlayer player(recorder, lock, sink, timer, 1);
        player.Start();
        player.Join();
    }
    using Sent = std::pair<long, std::uint32_t>;
    EXPECT_THAT(sink.sent, ElementsAre(Sent{0, 0x644590}, Sent{500, 0x404580}, Sent{1500, 0x645190},
                                       Sent{2000, 0x405180}, Sent{67'535, 0x80},
                                       Sent{72'000, 0x643990}, Sent{73'000, 0x403980}));
}

TEST(SongImportTest, TextsComeFromTheFileOrTheOptionsAsGbk) {
    struct Case {
        const char* name;
        std::string midiText;
        std::string gbk;
    };
    const Case cases[] = {
        {"ASCII", "Tune", "Tune"},
        {"UTF-8", "\xE6\xAD\x8C abc", "\xB8\xE8 abc"},             // 歌
        {"GBK as it is", "\xB8\xE8\xC7\xFA", "\xB8\xE8\xC7\xFA"},  // 歌曲
        {"Latin-1", "Caf\xE9", "Caf\xA8\xA6"},                     // é is in GBK
        {"outside GBK", "\xF0\x9F\x8E\xB9 piano", "? piano"},
        {"controls and spaces", "  (c) 2024\r\n\tMe \x7F", "(c) 2024   Me"},
        {"ends at a NUL", std::string("Name\0junk", 9), "Name"},
        {"nothing but spaces", " \n ", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(MidiTextToGbk(c.midiText), c.gbk);
    }

    // The song file's 49 bytes: a double-byte character is not cut in half.
    std::string longName;
    for (int i = 0; i < 30; ++i)
        longName += "\xE6\xAD\x8C";  // 60 bytes in GBK
    Bytes meta = {0xFF, 0x03, std::uint8_t(longName.size())};
    meta.insert(meta.end(), longName.begin(), longName.end());
    Bytes track = Ev(0, {0xFF, 0x02, 0x02, 'M', 'e'});
    const Bytes name = VarLen(0);
    track.insert(track.end(), name.begin(), name.end());
    track.insert(track.end(), meta.begin(), meta.end());
    for (const Bytes& e : {Ev(0, {0x90, 60, 100}), Ev(10, {0x80, 60, 0}), EndOfTrack()})
        track.insert(track.end(), e.begin(), e.end());
    const Bytes file = Smf(0, 96, {Chunk("MTrk", track)});
    ImportedSong song = Imported(file);
    EXPECT_EQ(DecodeSongText(song.header.author), "Me");
    EXPECT_EQ(DecodeSongText(song.header.title).size(), 48u);
    SongImportOptions texts;
    texts.author = "\xD5\xC5\xC8\xFD";
    texts.title = "";
    song = Imported(file, texts);
    EXPECT_EQ(DecodeSongText(song.header.author), "\xD5\xC5\xC8\xFD");
    EXPECT_EQ(DecodeSongText(song.header.title), "");
}

TEST(SongImportTest, FilesItCannotTakeAreRefusedWithTheirCause) {
    std::string pattern = (fs::temp_directory_path() / "import.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const auto write = [&](const char* name, const Bytes& bytes) {
        std::ofstream(dir / name, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
        return dir / name;
    };
    Bytes truncated = TwoNotes();
    truncated.resize(truncated.size() - 6);
    const fs::path large = write("large.mid", TwoNotes());
    fs::resize_file(large, kMaxMidiFileBytes + 1);  // sparse: nothing is written
    // The slowest tempo at 1 tick a quarter: tick 6,000 is past 27 hours.
    const Bytes slow =
        Smf(0, 1, {Track({Tempo(0, 0xFFFFFF), Ev(0, {0x90, 60, 1}), Ev(6000, {0x80, 60, 0})})});
    // A held note whose track ends past 24 hours.
    const Bytes lateEnd =
        Smf(0, 1, {Track({Tempo(0, 0xFFFFFF), Ev(0, {0x90, 60, 1}), EndOfTrack(6000)})});
    struct Case {
        const char* name;
        fs::path path;
        SongImportStatus status;
        int error;
        musicport::MidiFileStatus midi;
    };
    const Case cases[] = {
        {"missing", dir / "missing.mid", SongImportStatus::CannotOpen, ENOENT, {}},
        {"a folder", dir, SongImportStatus::CannotOpen, EISDIR, {}},
        {"not MIDI", write("text.mid", Bytes(100, 'x')), SongImportStatus::NotMidi, 0,
         musicport::MidiFileStatus::NotMidi},
        {"truncated", write("cut.mid", truncated), SongImportStatus::NotMidi, 0,
         musicport::MidiFileStatus::BadTrackLength},
        {"larger than 256 MiB", large, SongImportStatus::TooLarge, 0, {}},
        {"longer than a day", write("slow.mid", slow), SongImportStatus::TooLong, 0, {}},
        {"ending after a day", write("late.mid", lateEnd), SongImportStatus::TooLong, 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ImportedSong song;
        const SongImportResult result = ImportSong(c.path, {}, &song);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.error, c.error);
        EXPECT_EQ(result.midiStatus, c.midi);
        EXPECT_TRUE(song.events.empty());
    }
    ImportedSong slowSong;
    ASSERT_EQ(ImportSong(dir / "slow.mid", {}, &slowSong).status, SongImportStatus::TooLong);
    EXPECT_EQ(slowSong.lastMs, 100'663'290u);  // 6,000 × 16.777215 s

    // A FIFO is refused at once, never read until some program writes to it.
    tests::recorder::Fifo fifo(dir / "fifo.mid");
    ASSERT_TRUE(fifo.Made());
    SongImportResult fifoResult;
    EXPECT_TRUE(fifo.RunsWithoutWaiting([&] {
        ImportedSong song;
        fifoResult = ImportSong(fifo.Path(), {}, &song);
    }));
    EXPECT_EQ(fifoResult.status, SongImportStatus::CannotOpen);
    EXPECT_EQ(fifoResult.error, platform::file::kNotARegularFile);

    // Unreadable (when not root, who reads anything).
    const fs::path locked = write("locked.mid", TwoNotes());
    fs::permissions(locked, fs::perms::none);
    if (::geteuid() != 0) {
        ImportedSong song;
        EXPECT_EQ(ImportSong(locked, {}, &song).error, EACCES);
    }
    fs::remove_all(dir);
}

}  // namespace
