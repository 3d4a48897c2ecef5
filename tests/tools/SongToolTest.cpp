// tunestead-song as a user runs it: info and tag on a real file, a WAV rendered by the real
// synthesizer at the song's timing and pitches, MIDI files imported byte for byte and back, and
// clear failures for bad files and arguments.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "musicport/MidiFileClock.h"
#include "musicport/MidiFileReader.h"
#include "recorder/SongFile.h"
#include "tests/musicport/MidiFixtures.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"

namespace {

namespace fs = std::filesystem;
using namespace recorder;

struct ToolRun {
    int exitCode = -1;
    std::string output;  // standard output and error
};

// Runs a shell command line; `timeout` turns a hang into a failed exit status, and a death by
// a signal shows as 128 + the signal.
ToolRun Shell(const std::string& commandLine) {
    ToolRun run;
    const std::string command = commandLine + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), int(buffer.size()), pipe) != nullptr)
        run.output += buffer.data();
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

ToolRun Tool(const std::string& arguments) {
    return Shell("timeout 30 " + std::string(TUNESTEAD_SONG_TOOL) + " " + arguments);
}

std::vector<unsigned char> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::uint32_t U32At(const std::vector<unsigned char>& bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
           std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

std::size_t FilesIn(const fs::path& dir) {
    return std::size_t(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

void WriteBytes(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// A MIDI file as another program writes it: track 1 the copyright, the name, two tempos and
// the melody on channel 1 (program 5); track 2 drums on channel 10 every quarter, also through
// the melody's rest of 70 s.
//   note 69 at 0 ms for 500 ms, note 72 at 500 ms for 500 ms (ended by a note-on of velocity 0)
//   0.75 s a quarter from 1,000 ms: note 76 at 1,000 ms for 375 ms
//   70,000 ms of rest, then note 57 at 71,375 ms for 500 ms
std::vector<std::uint8_t> MelodyAndDrums() {
    using namespace tests::midi;
    Bytes drums;
    for (std::uint32_t quarter = 0; quarter < 100; ++quarter) {
        for (const Bytes& e : {Ev(quarter == 0 ? 0 : 400, {0x99, 42, 100}), Ev(80, {0x89, 42, 0})})
            drums.insert(drums.end(), e.begin(), e.end());
    }
    const Bytes end = EndOfTrack();
    drums.insert(drums.end(), end.begin(), end.end());
    return Smf(1, 480,
               {Track({Ev(0, {0xFF, 0x02, 0x06, '(', 'c', ')', ' ', 'M', 'e'}),
                       Ev(0, {0xFF, 0x03, 0x04, 'T', 'u', 'n', 'e'}), Tempo(0, 500'000),
                       Ev(0, {0xC0, 5}), Ev(0, {0x90, 69, 100}), Ev(480, {0x80, 69, 64}),
                       Ev(0, {0x90, 72, 90}), Ev(480, {0x90, 72, 0}), Tempo(0, 750'000),
                       Ev(0, {0x90, 76, 80}), Ev(240, {0x80, 76, 64}), Ev(44'800, {0x90, 57, 100}),
                       Ev(320, {0x80, 57, 64}), EndOfTrack()}),
                Chunk("MTrk", drums)});
}

class SongToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "songtool.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        // A4 for 400 ms, then A3 100 ms after its release, for 400 ms.
        SongFileHeader header;
        header.program = 1;
        header.author = EncodeSongText("\xD7\xF7\xD5\xDF");
        const std::vector<NoteEvent> events = {0x0000FF45, 0x01907F45, 0x0064FF39, 0x01907F39};
        ASSERT_TRUE(WriteSongFile(song_ = dir_ / "两个音.tnd", header, events).Ok());
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string Quoted(const fs::path& p) { return "'" + p.string() + "'"; }

    fs::path dir_;
    fs::path song_;
};

TEST_F(SongToolTest, InfoShowsTheHeaderInUtf8AndTagSetsTheTexts) {
    ToolRun info = Tool("info " + Quoted(song_));
    EXPECT_EQ(info.exitCode, 0) << info.output;
    EXPECT_NE(info.output.find("author:      作者\n"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("events:      4\n"), std::string::npos);
    EXPECT_NE(info.output.find("duration:    0.900 s\n"), std::string::npos);
    EXPECT_NE(info.output.find("notes used:  2 (57..69): 57 69\n"), std::string::npos);

    EXPECT_EQ(Tool("tag " + Quoted(song_) + " --title '新歌'").exitCode, 0);
    info = Tool("info " + Quoted(song_));
    EXPECT_NE(info.output.find("author:      作者\n"), std::string::npos) << info.output;
    EXPECT_NE(info.output.find("title:       新歌\n"), std::string::npos) << info.output;

    const ToolRun tooLong = Tool("tag " + Quoted(song_) + " --author " + std::string(50, 'x'));
    EXPECT_EQ(tooLong.exitCode, 2);
    EXPECT_NE(tooLong.output.find("at most 49"), std::string::npos);
}

TEST_F(SongToolTest, InfoShowsControlCharactersOfTheTextsEscaped) {
    SongFileHeader header;
    header.author = EncodeSongText("\x1B[31mred\x07");
    header.title = EncodeSongText("a\\x1B\r\x7F\xD7\xF7");
    const fs::path song = dir_ / "escapes.tnd";
    ASSERT_TRUE(WriteSongFile(song, header, std::vector<NoteEvent>{0x0000FF45}).Ok());
    const ToolRun info = Tool("info " + Quoted(song));
    EXPECT_EQ(info.exitCode, 0) << info.output;
    EXPECT_NE(info.output.find("author:      \\x1B[31mred\\x07\n"), std::string::npos)
        << info.output;
    // A backslash of the text is doubled, so it cannot pass for an escape.
    EXPECT_NE(info.output.find("title:       a\\\\x1B\\x0D\\x7F作\n"), std::string::npos)
        << info.output;
    for (const char control : {'\x1B', '\x07', '\r', '\x7F'})
        EXPECT_EQ(info.output.find(control), std::string::npos) << int(control);
}

TEST_F(SongToolTest, BadFilesFailWithAMessageAndStatusOne) {
    std::ofstream(dir_ / "short.tnd") << "TND";
    std::ofstream(dir_ / "wrong.tnd") << std::string(300, 'x');
    // Refused at once, not read until some program writes to it; the cause is named.
    ASSERT_EQ(::mkfifo((dir_ / "fifo.tnd").c_str(), 0600), 0);
    const std::pair<fs::path, std::string> cases[] = {
        {dir_ / "missing.tnd", "File not found!"},
        {dir_, "File not found!"},
        {dir_ / "short.tnd", "Invalid File!"},
        {dir_ / "wrong.tnd", "Invalid Tunestead file!"},
        {dir_ / "fifo.tnd", "fifo.tnd is not a regular file."},
    };
    for (const auto& [path, message] : cases) {
        for (const std::string command : {"info ", "export ", "tag "}) {
            const std::string rest = command == "export " ? " --midi " + Quoted(dir_ / "o.mid")
                                     : command == "tag "  ? " --author a"
                                                          : "";
            const ToolRun run = Tool(command + Quoted(path) + rest);
            EXPECT_EQ(run.exitCode, 1) << command << path;
            EXPECT_NE(run.output.find(message), std::string::npos) << run.output;
        }
    }
    EXPECT_FALSE(fs::exists(dir_ / "o.mid"));
    EXPECT_EQ(Tool("frobnicate " + Quoted(song_)).exitCode, 2);
}

TEST_F(SongToolTest, ImportKeepsTheMelodyAtItsMillisecondsWithoutTheDrums) {
    const fs::path mid = dir_ / "曲.mid";
    WriteBytes(mid, MelodyAndDrums());
    const fs::path tnd = dir_ / "曲.tnd";
    const ToolRun run = Tool("import " + Quoted(mid) + " " + Quoted(tnd));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    EXPECT_NE(run.output.find("channel 1 (channels with notes: 1, 10), 9 events (1 of them "
                              "silent fillers), 1:11.875"),
              std::string::npos)
        << run.output;

    std::vector<unsigned char> expected = {'T', 'N', 'D', 0, 0, 0, 0, 0, 6, 0, 0, 0};
    const auto text = [&](std::string_view value) {
        for (std::size_t i = 0; i < 50; ++i) {
            expected.push_back(i < value.size() ? static_cast<unsigned char>(value[i]) : 0);
            expected.push_back(0);
        }
    };
    text("(c) Me");
    text("Tune");
    expected.insert(expected.end(), {9, 0, 0, 0});
    const auto event = [&](std::uint16_t code, std::uint16_t delay) {
        expected.insert(expected.end(), {std::uint8_t(code), std::uint8_t(code >> 8),
                                         std::uint8_t(delay), std::uint8_t(delay >> 8)});
    };
    event(0xE445, 0);       // note 69 on, velocity 100, at 0 ms
    event(0x4045, 500);     // off, velocity 64, at 500
    event(0xDA48, 0);       // note 72 on, velocity 90, at 500
    event(0x8048, 500);     // a note-on of velocity 0, at 1,000
    event(0xD04C, 0);       // note 76 on, velocity 80, at 1,000
    event(0x404C, 375);     // off at 1,375
    event(0x0000, 65'535);  // filler: note 0 off, velocity 0, at 66,910
    event(0xE439, 4'465);   // note 57 on at 71,375
    event(0x4039, 500);     // off at 71,875
    EXPECT_EQ(ReadBytes(tnd), expected);

    // The options: the drums, another program, texts of one's own.
    const ToolRun drums = Tool("import " + Quoted(mid) + " " + Quoted(tnd) +
                               " --channel 10 --program 0 --author 张三 --title 鼓");
    ASSERT_EQ(drums.exitCode, 0) << drums.output;
    LoadedSong song;
    ASSERT_TRUE(ReadSongFile(tnd, 1000, &song).Ok());
    EXPECT_EQ(song.events.size(), 200u);
    EXPECT_EQ(song.events[1], 0x0053002Au);  // note 42 released 80 ticks (83.3 ms) later
    EXPECT_EQ(song.header.program, 1u);
    EXPECT_EQ(DecodeSongText(song.header.author), "\xD5\xC5\xC8\xFD");
    EXPECT_EQ(DecodeSongText(song.header.title), "\xB9\xC4");
}

TEST_F(SongToolTest, ImportAndExportGiveBackTheSameNotesAndEvents) {
    // MIDI file -> song -> MIDI file: the melody's notes at their times within a millisecond.
    const std::vector<std::uint8_t> original = MelodyAndDrums();
    const fs::path mid = dir_ / "in.mid";
    WriteBytes(mid, original);
    const fs::path tnd = dir_ / "in.tnd";
    const fs::path back = dir_ / "back.mid";
    ASSERT_EQ(Tool("import " + Quoted(mid) + " " + Quoted(tnd)).exitCode, 0);
    ASSERT_EQ(Tool("export " + Quoted(tnd) + " --midi " + Quoted(back)).exitCode, 0);
    musicport::MidiFile before;
    musicport::MidiFile after;
    ASSERT_EQ(musicport::ReadMidiFile(original, before), musicport::MidiFileStatus::Ok);
    const std::vector<unsigned char> exported = ReadBytes(back);
    ASSERT_EQ(musicport::ReadMidiFile(exported, after), musicport::MidiFileStatus::Ok);
    struct Note {
        double ms;
        std::vector<std::uint8_t> bytes;
    };
    const auto notes = [](const musicport::MidiFile& file, std::uint8_t channel) {
        const musicport::MidiFileClock clock(file);
        std::vector<Note> out;
        for (const auto& e : file.events) {
            const bool filler = e.bytes[0] == 0x80 && e.bytes[1] == 0 && e.bytes[2] == 0;
            if ((e.bytes[0] & 0x0F) == channel && (e.bytes[0] & 0xE0) == 0x80 && !filler)
                out.push_back({double(clock.Units(e.tick)) / double(clock.Denominator()),
                               {std::uint8_t(e.bytes[0] & 0xF0), e.bytes[1], e.bytes[2]}});
        }
        return out;
    };
    const std::vector<Note> want = notes(before, 0);
    const std::vector<Note> got = notes(after, 0);
    ASSERT_EQ(got.size(), want.size());
    ASSERT_EQ(want.size(), 8u);
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(got[i].bytes, want[i].bytes) << i;
        EXPECT_NEAR(got[i].ms, want[i].ms, 1.0) << i;
    }

    // Song -> MIDI file -> song: the same events.
    const fs::path exportedSong = dir_ / "song.mid";
    const fs::path again = dir_ / "again.tnd";
    ASSERT_EQ(Tool("export " + Quoted(song_) + " --midi " + Quoted(exportedSong)).exitCode, 0);
    ASSERT_EQ(Tool("import " + Quoted(exportedSong) + " " + Quoted(again)).exitCode, 0);
    LoadedSong first;
    LoadedSong second;
    ASSERT_TRUE(ReadSongFile(song_, 100, &first).Ok());
    ASSERT_TRUE(ReadSongFile(again, 100, &second).Ok());
    EXPECT_EQ(second.events, first.events);
    EXPECT_EQ(second.header.program, first.header.program);
    ASSERT_EQ(Tool("export " + Quoted(tnd) + " --midi " + Quoted(exportedSong)).exitCode, 0);
    ASSERT_EQ(Tool("import " + Quoted(exportedSong) + " " + Quoted(again)).exitCode, 0);
    ASSERT_TRUE(ReadSongFile(tnd, 100, &first).Ok());
    ASSERT_TRUE(ReadSongFile(again, 100, &second).Ok());
    EXPECT_EQ(second.events, first.events) << "the filler comes back as it was";
}

TEST_F(SongToolTest, AnImportedSongRendersItsNotesAcrossTheFillers) {
    const fs::path mid = dir_ / "in.mid";
    WriteBytes(mid, MelodyAndDrums());
    const fs::path tnd = dir_ / "in.tnd";
    const fs::path wav = dir_ / "out.wav";
    ASSERT_EQ(Tool("import " + Quoted(mid) + " " + Quoted(tnd) + " --program 0").exitCode, 0);
    const ToolRun run = Tool("export " + Quoted(tnd) + " --wav " + Quoted(wav));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<unsigned char> bytes = ReadBytes(wav);
    constexpr int kRate = 44100;
    std::vector<float> left;
    for (std::size_t i = 44; i + 3 < bytes.size(); i += 4)
        left.push_back(float(std::int16_t(bytes[i] | bytes[i + 1] << 8)) / 32768.0f);
    auto between = [&](double from, double to) {
        return std::vector<float>(left.begin() + long(from * kRate),
                                  left.begin() + long(to * kRate));
    };
    EXPECT_NEAR(double(left.size()) / kRate, 71.875 + 2, 0.01);
    using tests::fluidsynth::PitchHz;
    using tests::fluidsynth::Rms;
    EXPECT_NEAR(PitchHz(between(0.05, 0.45), kRate), 440.0, 440 * 0.02);
    // The rest is silent (no drums, nothing from the filler), and the last note comes at
    // 71.375 s at its pitch.
    const double sounding = Rms(between(71.4, 71.8));
    EXPECT_LT(Rms(between(10, 71.3)), 0.01 * sounding);
    EXPECT_NEAR(PitchHz(between(71.4, 71.8), kRate), 220.0, 220 * 0.02);
    EXPECT_GT(sounding, 4 * Rms(between(71.35, 71.37)));
}

TEST_F(SongToolTest, ImportFailuresSayWhyAndWriteNothing) {
    using namespace tests::midi;
    const fs::path mid = dir_ / "in.mid";
    WriteBytes(mid, MelodyAndDrums());
    std::ofstream(dir_ / "text.mid") << std::string(300, 'x');
    std::vector<std::uint8_t> cut = MelodyAndDrums();
    cut.resize(cut.size() / 2);
    WriteBytes(dir_ / "cut.mid", cut);
    WriteBytes(dir_ / "drums.mid", Smf(0, 96, {Track({Ev(0, {0x99, 36, 100}), EndOfTrack(96)})}));
    ASSERT_EQ(::mkfifo((dir_ / "fifo.mid").c_str(), 0600), 0);
    const fs::path out = dir_ / "out.tnd";
    struct Case {
        std::string arguments;
        int exitCode;
        std::string message;
    };
    const std::string in = Quoted(mid) + " " + Quoted(out);
    const Case cases[] = {
        {"", 2, "missing FILE"},
        {Quoted(mid), 2, "bad arguments"},
        {in + " --channel", 2, "bad arguments"},
        {in + " --channel 17", 2, "--channel takes a number 1-16, not \"17\""},
        {in + " --channel 1x", 2, "--channel takes a number 1-16"},
        {in + " --track 0", 2, "--track takes a number 1-65535"},
        {in + " --program 128", 2, "--program takes a number 0-127"},
        {in + " --tempo 2", 2, "unknown option --tempo"},
        {in + " --title " + std::string(50, 'x'), 2, "--title is 50 bytes in GBK; at most 49 fit"},
        {in + " --track 3", 2, "in.mid has 2 tracks; --track 3 names none"},
        {Quoted(dir_ / "missing.mid") + " " + Quoted(out), 1, "missing.mid was not found."},
        {Quoted(dir_) + " " + Quoted(out), 1, "is a folder, not a file."},
        {Quoted(dir_ / "fifo.mid") + " " + Quoted(out), 1, "fifo.mid is not a regular file."},
        {Quoted(dir_ / "text.mid") + " " + Quoted(out), 1,
         "text.mid is not a Standard MIDI File of format 0 or 1 (no MThd header)"},
        {Quoted(song_) + " " + Quoted(out), 1, "is not a Standard MIDI File"},
        {Quoted(dir_ / "cut.mid") + " " + Quoted(out), 1,
         "cut.mid is not a Standard MIDI File of format 0 or 1 (a chunk claims more bytes"},
        {Quoted(dir_ / "drums.mid") + " " + Quoted(out), 1,
         "drums.mid: no notes on a channel other than 10 (channels with notes: 10)"},
        {in + " --track 2", 1,
         "in.mid: no notes on a channel other than 10 in track 2 (channels with notes: 10)"},
        {in + " --channel 5 --track 1", 1,
         "in.mid: no notes on channel 5 in track 1 (channels with notes: 1)"},
        {Quoted(mid) + " " + Quoted(dir_ / "no" / "out.tnd"), 1, "out.tnd was not found."},
    };
    for (const Case& c : cases) {
        const ToolRun run = Tool("import " + c.arguments);
        EXPECT_EQ(run.exitCode, c.exitCode) << c.arguments << "\n" << run.output;
        EXPECT_NE(run.output.find(c.message), std::string::npos) << run.output;
    }
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(FilesIn(dir_), 6u);  // the song, the four MIDI files and the FIFO

    const ToolRun help = Tool("--help");
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.output.find("bridged by a filler every 65,535 ms"), std::string::npos);
}

TEST_F(SongToolTest, WavExportPlaysEachNoteAtItsTimeAndPitch) {
    const fs::path wav = dir_ / "out.wav";
    const ToolRun run = Tool("export " + Quoted(song_) + " --wav " + Quoted(wav));
    ASSERT_EQ(run.exitCode, 0) << run.output;
    const std::vector<unsigned char> bytes = ReadBytes(wav);
    ASSERT_GT(bytes.size(), 44u);
    constexpr int kRate = 44100;
    // The header's sizes match the file written block by block.
    EXPECT_EQ(U32At(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(U32At(bytes, 24), std::uint32_t(kRate));
    EXPECT_EQ(U32At(bytes, 28), std::uint32_t(kRate) * 4);  // bytes a second
    EXPECT_EQ(bytes[32] | bytes[33] << 8, 4);               // bytes a frame
    EXPECT_EQ(U32At(bytes, 40), bytes.size() - 44);
    std::vector<float> left;
    for (std::size_t i = 44; i + 3 < bytes.size(); i += 4)
        left.push_back(float(std::int16_t(bytes[i] | bytes[i + 1] << 8)) / 32768.0f);
    auto between = [&](double from, double to) {
        return std::vector<float>(left.begin() + long(from * kRate),
                                  left.begin() + long(to * kRate));
    };
    // 0.9 s of song and 2 s of release.
    EXPECT_NEAR(double(left.size()) / kRate, 2.9, 0.01);
    using tests::fluidsynth::PitchHz;
    using tests::fluidsynth::Rms;
    EXPECT_NEAR(PitchHz(between(0.05, 0.35), kRate), 440.0, 440 * 0.02);
    EXPECT_NEAR(PitchHz(between(0.55, 0.85), kRate), 220.0, 220 * 0.02);
    // The second note starts at 500 ms: louder just after than just before.
    EXPECT_GT(Rms(between(0.50, 0.52)), 2 * Rms(between(0.48, 0.50)));
    EXPECT_LT(Rms(between(2.7, 2.9)), 0.1 * Rms(between(0.55, 0.85)));
}

TEST_F(SongToolTest, WhatTheWavExportCannotDoEndsWithStatusOneAndAMessage) {
    // 2,000 events 65.535 s apart: over 36 hours, far more than a WAV file can hold. Refused
    // before anything is rendered or written.
    std::vector<NoteEvent> events(2000);
    for (std::size_t i = 0; i < events.size(); ++i)
        events[i] = MakeNoteEvent(i % 2 == 0 ? 0xFF45 : 0x7F45, i == 0 ? 0 : 0xFFFF);
    const fs::path longSong = dir_ / "long.tnd";
    ASSERT_TRUE(WriteSongFile(longSong, SongFileHeader{}, events).Ok());
    const fs::path wav = dir_ / "out.wav";
    const ToolRun tooLong = Tool("export " + Quoted(longSong) + " --wav " + Quoted(wav));
    EXPECT_EQ(tooLong.exitCode, 1) << tooLong.output;
    EXPECT_NE(tooLong.output.find("the WAV would last 36:23:26; a WAV file holds at most 6:45:47"),
              std::string::npos)
        << tooLong.output;

    // A write the process may not make (past its file size limit): a message, not a signal,
    // and neither the file nor a temporary one is left.
    const ToolRun full = Shell("ulimit -f 64; exec timeout 30 " + std::string(TUNESTEAD_SONG_TOOL) +
                               " export " + Quoted(song_) + " --wav " + Quoted(wav));
    EXPECT_EQ(full.exitCode, 1) << full.output;
    EXPECT_NE(full.output.find("out.wav"), std::string::npos) << full.output;
    EXPECT_EQ(FilesIn(dir_), 2u);  // the two songs
}

}  // namespace
