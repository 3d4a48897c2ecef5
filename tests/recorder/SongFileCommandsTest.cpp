// New, Open, Save, Save As and the author/title entry over real files, with the window's
// state seen through the fake views.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "FakeClocks.h"
#include "FakeViews.h"
#include "Fifo.h"
#include "FileSizeLimit.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/RecorderControl.h"
#include "recorder/SongFileCommands.h"

namespace {

using namespace recorder;
namespace fs = std::filesystem;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using tests::recorder::FakePlaybackTimer;
using tests::recorder::FakeRecorderView;
using tests::recorder::FakeSongFileView;
using tests::recorder::ManualClock;
using Message = FakeSongFileView::Message;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class SongFileCommandsTest : public ::testing::Test {
public:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "songcmd.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
        song_ = dir_ / "song.tnd";
        // A song on disk: two notes 300 ms apart, instrument 5, on the port of word 0x20.
        SongFileHeader header;
        header.portFlags = 0x20;
        header.program = 5;
        header.author = EncodeSongText("\xD7\xF7\xD5\xDF");  // 作者 in GBK
        header.title = EncodeSongText("Song");
        ASSERT_TRUE(WriteSongFile(song_, header, kSong).Ok());
    }
    void TearDown() override { fs::remove_all(dir_); }

    void RecordOneNote() {
        control.OnRecord();
        control.RecordMessage(0x7F3090);
        control.OnStop();
    }

    const std::vector<NoteEvent> kSong{0x0000FF3C, 0x012C7F3C};
    fs::path dir_;
    fs::path song_;
    ManualClock clock;
    CNoteRecorder recorder{clock};
    std::recursive_mutex lock;
    FakeRecorderView recorderView;
    FakeSongFileView fileView;
    FakePlaybackTimer timer;
    RecorderControl control{recorder, lock, recorderView, timer};
    SongFileCommands commands{control, recorderView, fileView};
};

TEST_F(SongFileCommandsTest, OpenLoadsTheSongAndSetsTheWindowPerRecordState) {
    struct Case {
        const char* name;
        std::function<void(SongFileCommandsTest&)> before;
        RecordState after;
        bool record, play, stop;
    };
    const Case cases[] = {
        {"idle at start", [](SongFileCommandsTest&) {}, RecordState::Idle, true, true, true},
        {"recording", [](SongFileCommandsTest& t) { t.control.OnRecord(); }, RecordState::Idle,
         true, true, true},
        {"playing",
         [](SongFileCommandsTest& t) {
             t.RecordOneNote();
             t.timer.HoldFrom(milliseconds(0));
             t.recorder.Replace({0x0000FF3C, 0xEA607F3C});
             t.control.OnPlay();
             t.recorderView.WaitForSends(1);
         },
         RecordState::Idle, true, true, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.before(*this);
        const int notesOffBefore = recorderView.allNotesOff;
        const RecordState before = control.State();
        fileView.openPath = song_;
        commands.OnOpenSong();

        EXPECT_EQ(control.State(), c.after);
        EXPECT_EQ(recorderView.record, c.record);
        EXPECT_EQ(recorderView.play, c.play);
        EXPECT_EQ(recorderView.stop, c.stop);
        // Playback was stopped, its notes released, before the song was replaced.
        EXPECT_EQ(recorderView.allNotesOff - notesOffBefore,
                  before == RecordState::Playing ? 1 : 0);
        ASSERT_EQ(recorder.GetCount(), 2u);
        EXPECT_EQ(std::vector<NoteEvent>(recorder.GetData(), recorder.GetData() + 2), kSong);
        EXPECT_EQ(recorder.GetPosition(), 0u);
        EXPECT_EQ(recorderView.range, std::make_pair(0, 1));
        EXPECT_EQ(fileView.portIndex, 1);  // the first entry whose word matches
        EXPECT_EQ(fileView.instrument, 4);
        EXPECT_EQ(fileView.authorLabel, "Author: 作者");
        EXPECT_EQ(fileView.titleLabel, "Title: Song");
        EXPECT_TRUE(fileView.saveItem);
        EXPECT_EQ(commands.FilePath(), song_);
        // The file's texts are shown, not taken over.
        EXPECT_EQ(commands.Author(), "");
        control.Shutdown();
        fileView = FakeSongFileView();
    }
}

TEST_F(SongFileCommandsTest, AFailedOpenLeavesTheSongAndThePathAsTheyWere) {
    const fs::path bad = dir_ / "bad.tnd";
    std::ofstream(bad) << std::string(300, 'x');
    const tests::recorder::Fifo fifo(dir_ / "fifo.tnd");
    ASSERT_TRUE(fifo.Made());
    struct Case {
        fs::path path;
        Message message;
    };
    const Case cases[] = {
        {dir_ / "missing.tnd", {"File not found!", false}},
        {dir_, {"File not found!", false}},
        {bad, {"Invalid Tunestead file!", true}},
        // Refused at once: waiting for a writer would freeze the window.
        {fifo.Path(), {"File not found!", false}},
    };
    RecordOneNote();
    fileView.savePath = dir_ / "mine.tnd";
    commands.OnSaveSongAs();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path.string());
        fileView.messages.clear();
        fileView.openPath = c.path;
        EXPECT_TRUE(fifo.RunsWithoutWaiting([&] { commands.OnOpenSong(); }));
        EXPECT_THAT(fileView.messages, ElementsAre(c.message));
        ASSERT_EQ(recorder.GetCount(), 1u);
        EXPECT_EQ(recorder.GetData()[0], 0x0000FF30u);
        EXPECT_EQ(commands.FilePath(), dir_ / "mine.tnd");
    }
    fileView.openPath.reset();  // Cancel changes nothing
    commands.OnOpenSong();
    EXPECT_EQ(recorder.GetCount(), 1u);
}

TEST_F(SongFileCommandsTest, SaveAsWritesTheEnteredTextsAndEnablesSave) {
    commands.OnSaveSongAs();
    EXPECT_THAT(recorderView.messages, ElementsAre("没有录音！"));
    EXPECT_FALSE(fileView.saveItem);

    fileView.answers = {"张三", "歌"};
    commands.OnSongInfo();
    EXPECT_THAT(fileView.prompts, ElementsAre("作者姓名", "歌曲名称"));
    EXPECT_EQ(fileView.authorLabel, "作者: 张三");
    EXPECT_EQ(fileView.titleLabel, "歌曲: 歌");

    RecordOneNote();
    fileView.instrument = 9;
    fileView.portIndex = 2;
    fileView.savePath.reset();
    commands.OnSaveSongAs();  // cancelled
    EXPECT_FALSE(fileView.saveItem);
    fileView.savePath = dir_ / "out.tnd";
    commands.OnSaveSongAs();
    EXPECT_TRUE(fileView.saveItem);

    const std::string bytes = ReadAll(dir_ / "out.tnd");
    ASSERT_EQ(bytes.size(), 220u);
    EXPECT_EQ(bytes.substr(4, 8), std::string("\x20\0\0\0\x0A\0\0\0", 8));
    // 张三 is D5 C5 C8 FD in GBK, 歌 is B8 E8.
    EXPECT_EQ(bytes.substr(12, 10), std::string("\xD5\0\xC5\0\xC8\0\xFD\0\0\0", 10));
    EXPECT_EQ(bytes.substr(112, 6), std::string("\xB8\0\xE8\0\0\0", 6));

    // Save writes to the stored path without asking; an opened file's texts are not kept.
    fileView.openPath = song_;
    commands.OnOpenSong();
    fileView.savePath.reset();
    commands.OnSaveSong();
    const std::string resaved = ReadAll(song_);
    EXPECT_EQ(resaved.size(), 224u);
    EXPECT_EQ(resaved.substr(12, 4), std::string("\xD5\0\xC5\0", 4));
}

TEST_F(SongFileCommandsTest, AFailedSaveIsShownAndKeepsThePreviousFile) {
    RecordOneNote();
    const std::string before = ReadAll(song_);
    fileView.savePath = song_;
    {
        tests::recorder::FileSizeLimit limit(100);
        commands.OnSaveSongAs();
    }
    ASSERT_EQ(fileView.messages.size(), 1u);
    EXPECT_THAT(fileView.messages[0].text, ::testing::StartsWith("An unexpected error occurred"));
    EXPECT_EQ(ReadAll(song_), before);
    EXPECT_FALSE(fileView.saveItem);
}

TEST_F(SongFileCommandsTest, NewEmptiesTheSongAndMakesTheWindowIdle) {
    control.OnRecord();
    control.RecordMessage(0x7F3090);
    commands.OnNewSong();
    EXPECT_EQ(control.State(), RecordState::Idle);
    EXPECT_EQ(recorder.GetCount(), 0u);
    EXPECT_TRUE(recorderView.record);
    EXPECT_FALSE(recorderView.play);
    EXPECT_FALSE(recorderView.stop);
    EXPECT_EQ(recorderView.allNotesOff, 0);  // a recording simply ends
}

}  // namespace
