// tunestead-song as a user runs it: info and tag on a real file, a WAV rendered by the real
// synthesizer at the song's timing and pitches, and clear failures for bad files.

#include <gtest/gtest.h>
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

ToolRun Tool(const std::string& arguments) {
    ToolRun run;
    const std::string command = std::string(TUNESTEAD_SONG_TOOL) + " " + arguments + " 2>&1";
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 256> buffer{};
    while (std::fgets(buffer.data(), int(buffer.size()), pipe) != nullptr)
        run.output += buffer.data();
    const int status = ::pclose(pipe);
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
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

TEST_F(SongToolTest, BadFilesFailWithAMessageAndStatusOne) {
    std::ofstream(dir_ / "short.tnd") << "TND";
    std::ofstream(dir_ / "wrong.tnd") << std::string(300, 'x');
    const std::pair<fs::path, std::string> cases[] = {
        {dir_ / "missing.tnd", "File not found!"},
        {dir_, "File not found!"},
        {dir_ / "short.tnd", "Invalid File!"},
        {dir_ / "wrong.tnd", "Invalid Tunestead file!"},
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
    std::ifstream in(wav, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
    ASSERT_GT(bytes.size(), 44u);
    constexpr int kRate = 44100;
    std::vector<float> left;
    for (std::size_t i = 44; i + 3 < bytes.size(); i += 4)
        left.push_back(float(std::int16_t(std::uint8_t(bytes[i]) | bytes[i + 1] << 8)) / 32768.0f);
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

}  // namespace
