// Record, Stop and Play, the recording step of both sources and the MIDI receiver, through the
// state table, with real player threads on a fake timer.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "FakeClocks.h"
#include "FakeViews.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/RecorderControl.h"

namespace {

using namespace recorder;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using tests::recorder::FakePlaybackTimer;
using tests::recorder::FakeRecorderView;
using tests::recorder::ManualClock;
using Row = FakeRecorderView::Row;

class RecorderControlTest : public ::testing::Test {
protected:
    explicit RecorderControlTest(std::uint32_t maxEvents = CNoteRecorder::kMaxEvents)
        : recorder(clock, maxEvents) {}

    void RecordTwoNotes() {
        control.OnRecord();
        control.RecordMessage(0x7F3C90);
        clock.Advance(milliseconds(120));
        control.RecordMessage(0x7F3C80);
        control.OnStop();
    }

    ManualClock clock;
    CNoteRecorder recorder;
    std::recursive_mutex lock;
    FakeRecorderView view;
    FakePlaybackTimer timer;
    RecorderControl control{recorder, lock, view, timer};
};

TEST_F(RecorderControlTest, RecordThenStopKeepsTheNotesWithTheirTiming) {
    control.RecordMessage(0x7F3090);  // idle: not recorded
    control.OnRecord();
    EXPECT_EQ(control.State(), RecordState::Recording);
    EXPECT_FALSE(view.record);
    EXPECT_FALSE(view.play);
    EXPECT_TRUE(view.stop);
    EXPECT_EQ(view.range, std::make_pair(0, 0x3FFFFFFF));
    EXPECT_EQ(view.focus, 1);

    control.RecordMessage(0x7F3C90);
    clock.Advance(milliseconds(120));
    control.RecordMessage(0x7F3C80);
    EXPECT_EQ(view.progress, 2u);
    control.OnStop();

    EXPECT_EQ(control.State(), RecordState::Idle);
    EXPECT_TRUE(view.record);
    EXPECT_TRUE(view.play);
    EXPECT_TRUE(view.stop);  // Stop stays enabled
    EXPECT_TRUE(view.newItem);
    EXPECT_EQ(view.allNotesOff, 1);
    ASSERT_EQ(recorder.GetCount(), 2u);
    EXPECT_EQ(recorder.GetData()[0], 0x0000FF3Cu);
    EXPECT_EQ(recorder.GetData()[1], 0x00787F3Cu);

    // Record again starts over with an empty song.
    control.OnRecord();
    EXPECT_EQ(recorder.GetCount(), 0u);
}

TEST_F(RecorderControlTest, PlayWithAnEmptySongOnlyTellsTheUser) {
    control.OnRecord();
    control.OnStop();
    control.OnPlay();
    EXPECT_THAT(view.messages, ElementsAre("没有录音可以播放！"));
    EXPECT_EQ(control.State(), RecordState::Idle);
    EXPECT_TRUE(view.play);
}

TEST_F(RecorderControlTest, PlayRunsToTheEndAndItsDoneMessageMakesTheWindowIdle) {
    RecordTwoNotes();
    control.OnPlay();
    EXPECT_EQ(control.State(), RecordState::Playing);
    EXPECT_FALSE(view.record);
    EXPECT_FALSE(view.play);
    EXPECT_FALSE(view.newItem);
    EXPECT_EQ(view.range, std::make_pair(0, 1));

    view.WaitForPosted(1);
    EXPECT_EQ(control.State(), RecordState::Playing);
    view.RunPosted();
    EXPECT_EQ(control.State(), RecordState::Idle);
    EXPECT_TRUE(view.record);
    EXPECT_TRUE(view.play);
    EXPECT_TRUE(view.newItem);
    EXPECT_EQ(view.progress, 1u);  // left at its last position
    EXPECT_THAT(view.Sent(), ElementsAre(0x7F3C90u, 0x7F3C80u));
    EXPECT_THAT(view.rows, ElementsAre(Row{60, 127, 3}));
    EXPECT_THAT(timer.Waits(), ElementsAre(milliseconds(120)));
}

TEST_F(RecorderControlTest, StopMidWaitEndsPlaybackAndALateDoneDoesNotStopTheNextRun) {
    RecordTwoNotes();
    timer.HoldFrom(milliseconds(1));
    control.OnPlay();
    view.WaitForSends(1);
    control.OnStop();
    EXPECT_EQ(control.State(), RecordState::Idle);
    EXPECT_EQ(view.allNotesOff, 2);
    view.WaitForPosted(1);  // the first run has ended; its done message is still queued

    control.OnPlay();
    view.WaitForSends(2);
    view.RunPosted();  // the stale done message of the first run
    EXPECT_EQ(control.State(), RecordState::Playing);
    EXPECT_FALSE(view.play);
    control.OnPlay();  // pressed again during the run (a queued click): no second run

    control.OnClosing();
    control.Shutdown();
    EXPECT_EQ(timer.StoppedWaits(), 2);
    EXPECT_THAT(view.Sent(), ElementsAre(0x7F3C90u, 0x7F3C90u));
    EXPECT_EQ(view.PostedCount(), 1u);  // every run, however short, ends with its done message
}

TEST_F(RecorderControlTest, MidiInputIsRecordedAndShownButOnlyNotes) {
    struct Case {
        std::uint32_t msg;
        std::vector<int> keys;
        std::vector<Row> rows;
        bool recorded;
    };
    const Case cases[] = {
        {0x00643C95, {60}, {{60, 100, 2}}, true},  // note-on on channel 6
        {0x00003C90, {-60}, {}, true},             // note-on of velocity 0 releases
        {0x00403C81, {-60}, {}, true},             // note-off
        {0x00407BB0, {}, {}, false},               // a control change
        {0x000005C0, {}, {}, false},               // a program change
        {0x002000E0, {}, {}, false},               // pitch bend
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg);
        control.OnRecord();
        view.keys.clear();
        view.rows.clear();
        control.ReceiveMidiMsg(c.msg);
        EXPECT_EQ(view.keys, c.keys);
        EXPECT_EQ(view.rows, c.rows);
        EXPECT_EQ(recorder.GetCount(), c.recorded ? 1u : 0u);
        if (c.recorded) {
            EXPECT_EQ(recorder.GetData()[0], EncodeNoteCode(c.msg));
        }
        control.OnStop();
    }
    EXPECT_TRUE(view.Sent().empty());  // the thru connection sounds input, not the receiver

    // While idle, notes are shown but not recorded.
    control.ReceiveMidiMsg(0x00643C90);
    EXPECT_EQ(recorder.GetCount(), 0u);
    EXPECT_EQ(view.keys.back(), 60);
}

class FullSongTest : public RecorderControlTest {
protected:
    FullSongTest() : RecorderControlTest(2) {}
};

TEST_F(FullSongTest, AFullSongEndsTheRecordingWithoutTheEventThatFoundItFull) {
    control.OnRecord();
    control.RecordMessage(0x7F3C90);
    control.RecordMessage(0x7F3C80);
    control.RecordMessage(0x7F4090);
    EXPECT_EQ(control.State(), RecordState::Idle);
    control.RecordMessage(0x7F4080);
    EXPECT_EQ(recorder.GetCount(), 2u);
    EXPECT_FALSE(view.record);  // the GUI thread has not stopped the window yet
    view.RunPosted();
    EXPECT_TRUE(view.record);
    EXPECT_TRUE(view.play);
    EXPECT_EQ(view.allNotesOff, 1);
}

}  // namespace
