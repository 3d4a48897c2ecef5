// Record, Stop and Play, the recording step of both sources (input notes timed by their
// arrival), through the state table, with real player threads on a fake timer.

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

TEST_F(RecorderControlTest, InputNotesAreTimedByTheirArrivalNotByWhenTheyAreRecorded) {
    // Three input notes arrive 0, 40 and 130 ms after a mouse note; the GUI thread gets to
    // them only 500 ms later, all at once.
    control.OnRecord();
    const auto start = clock.Now();
    control.RecordMessage(0x7F3090);
    clock.Advance(milliseconds(500));
    control.RecordMessage(0x403C90, start);
    control.RecordMessage(0x403E90, start + milliseconds(40));
    control.RecordMessage(0x003C80, start + milliseconds(130));
    // A note stamped before the last one recorded follows it without a delay, and the next
    // one is timed from the last recorded, not from that earlier stamp.
    control.RecordMessage(0x004080, start + milliseconds(100));
    control.RecordMessage(0x004280, start + milliseconds(150));
    control.OnStop();
    ASSERT_EQ(recorder.GetCount(), 6u);
    std::vector<int> delays;
    for (std::uint32_t i = 0; i < recorder.GetCount(); ++i)
        delays.push_back(recorder.GetDelay(i));
    EXPECT_THAT(delays, ElementsAre(0, 0, 40, 90, 0, 20));

    // While idle, stamped notes are not recorded either.
    control.RecordMessage(0x403C90, clock.Now());
    EXPECT_EQ(recorder.GetCount(), 6u);
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
