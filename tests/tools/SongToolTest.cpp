// tunestead-song as a user runs it: info and tag on a real file, a WAV rendered by the real
// synthesizer at the song's timing and pitches, and clear failures for bad files.

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

#include "recorder/SongFile.h"
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
