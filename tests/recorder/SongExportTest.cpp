// The song in other forms: the player's timeline, the summary, the Standard MIDI File and WAV
// bytes, and the author/title rewrite that keeps every other byte.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "recorder/SongExport.h"
#include "recorder/SongFile.h"

namespace {

using namespace recorder;
namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using ::testing::ElementsAre;

// Note 60 on, off 250 ms later, note 64 on 65,535 ms later (the longest delay).
const std::vector<NoteEvent> kSong = {0x0007FF3C, 0x00FA7F3C, 0xFFFFFF40};

TEST(SongExportTest, TimelineSkipsTheFirstDelayAndSummaryCountsNoteOns) {
    const std::vector<TimedMessage> timeline = SongTimeline(kSong);
    ASSERT_EQ(timeline.size(), 3u);
    EXPECT_EQ(timeline[0].timeMs, 0u);
    EXPECT_EQ(timeline[1].timeMs, 250u);
    EXPECT_EQ(timeline[2].timeMs, 65785u);
    EXPECT_EQ(timeline[2].msg, 0x7F4090u);

    const SongSummary summary = Summarise(kSong);
    EXPECT_EQ(summary.durationMs, 65785u);
    EXPECT_EQ(summary.noteOns, 2u);
    EXPECT_THAT(summary.notesUsed, ElementsAre(60, 64));
}

TEST(SongExportTest, StandardMidiFileKeepsMillisecondsAsTicks) {
    const Bytes smf = ToStandardMidiFile(kSong, 5);
    const Bytes expected = {'M',  'T',  'h',  'd',  0,    0,    0,    6,
                            0,    0,    0,    1,    0x03, 0xE8,  // format 0, 1000 per quarter
                            'M',  'T',  'r',  'k',  0,    0,    0,    29,  //
                            0x00, 0xFF, 0x51, 0x03, 0x0F, 0x42, 0x40,  // 1,000,000 us per quarter
                            0x00, 0xC0, 0x04,                          // program 5
                            0x00, 0x90, 0x3C, 0x7F,              // the first delay is not kept
                            0x81, 0x7A, 0x80, 0x3C, 0x7F,        // 250 ticks
                            0x83, 0xFF, 0x7F, 0x90, 0x40, 0x7F,  // 65,535 ticks
                            0x00, 0xFF, 0x2F, 0x00};
    EXPECT_EQ(smf, expected);
    // No program change for program 0.
    EXPECT_EQ(ToStandardMidiFile({}, 0).size(), 14u + 8u + 7u + 4u);
}

std::uint32_t U32At(const Bytes& bytes, std::size_t at) {
    return std::uint32_t(bytes[at]) | std::uint32_t(bytes[at + 1]) << 8 |
           std::uint32_t(bytes[at + 2]) << 16 | std::uint32_t(bytes[at + 3]) << 24;
}

TEST(SongExportTest, WavIsSixteenBitStereoPcmWithClipping) {
    const std::array<std::uint8_t, kWavHeaderBytes> header = WavHeader(2, 44100);
    Bytes wav(header.begin(), header.end());
    AppendWavSamples(std::vector<float>{0.0f, 1.0f, -1.0f, 2.0f}, wav);
    ASSERT_EQ(wav.size(), 44u + 8u);
    EXPECT_EQ(std::string(wav.begin(), wav.begin() + 4), "RIFF");
    EXPECT_EQ(U32At(wav, 4), 36u + 8u);
    EXPECT_EQ(std::string(wav.begin() + 8, wav.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(U32At(wav, 16), 16u);         // format size
    EXPECT_EQ(wav[20] | wav[21] << 8, 1);   // PCM
    EXPECT_EQ(wav[22] | wav[23] << 8, 2);   // channels
    EXPECT_EQ(U32At(wav, 24), 44100u);      // frames a second
    EXPECT_EQ(U32At(wav, 28), 44100u * 4);  // bytes a second
    EXPECT_EQ(wav[32] | wav[33] << 8, 4);   // bytes a frame
    EXPECT_EQ(wav[34] | wav[35] << 8, 16);  // bits a sample
    EXPECT_EQ(std::string(wav.begin() + 36, wav.begin() + 40), "data");
    EXPECT_EQ(U32At(wav, 40), 8u);
    EXPECT_EQ(Bytes(wav.begin() + 44, wav.end()),
              (Bytes{0x00, 0x00, 0xFF, 0x7F, 0x01, 0x80, 0xFF, 0x7F}));
    const std::array<std::uint8_t, kWavHeaderBytes> slower = WavHeader(10, 22050);
    EXPECT_EQ(U32At(Bytes(slower.begin(), slower.end()), 28), 22050u * 4);
}

TEST(SongExportTest, TheLongestWavHasSizesThatStillFitTheirFields) {
    // The song's time to its last event, then the release.
    EXPECT_EQ(RenderedFrames(SongTimeline(kSong), 44100, 88200), 65785u * 441 / 10 + 88200);
    EXPECT_EQ(RenderedFrames({}, 44100, 88200), 88200u);

    const std::array<std::uint8_t, kWavHeaderBytes> header = WavHeader(kWavMaxFrames, 44100);
    const Bytes bytes(header.begin(), header.end());
    const std::uint64_t dataBytes = kWavMaxFrames * kWavBytesPerFrame;
    EXPECT_EQ(U32At(bytes, 40), dataBytes);
    EXPECT_EQ(U32At(bytes, 4), dataBytes + 36);
}

TEST(SongExportTest, RewritingTheTextsKeepsEveryOtherByte) {
    std::string pattern = (fs::temp_directory_path() / "tag.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern;
    const fs::path path = dir / "song.tnd";
    SongFileHeader header;
    header.portFlags = 0xDEADBEEF;
    header.program = 77;
    header.author = EncodeSongText("old author");
    ASSERT_TRUE(WriteSongFile(path, header, kSong).Ok());
    // A count that lies and a stray byte at the end: both kept as they are.
    {
        std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
        f.seekp(212);
        f.put(char(9));
        f.seekp(0, std::ios::end);
        f.put(char(0x5A));
    }
    auto read = [&] {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), {});
    };
    const Bytes before = read();

    ASSERT_TRUE(RewriteSongTexts(path, "\xBC\xFC", "t").Ok());
    const Bytes after = read();
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i) {
        if (i >= 12 && i < 212)
            continue;
        EXPECT_EQ(after[i], before[i]) << "byte " << i;
    }
    EXPECT_EQ(Bytes(after.begin() + 12, after.begin() + 18), (Bytes{0xBC, 0, 0xFC, 0, 0, 0}));
    EXPECT_EQ(Bytes(after.begin() + 112, after.begin() + 116), (Bytes{'t', 0, 0, 0}));

    // A file that is not a song is left alone.
    const fs::path other = dir / "other.tnd";
    std::ofstream(other) << std::string(300, 'x');
    EXPECT_EQ(RewriteSongTexts(other, "a", "b").status, SongFileStatus::BadMagic);
    fs::remove_all(dir);
}

}  // namespace
