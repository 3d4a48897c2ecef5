// The player against an injected timer: events due at the song's timeline whatever sending
// costs, Stop ending a wait at once, and the short songs.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <vector>

#include "FakeClocks.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/IPlaybackSink.h"
#include "recorder/SongPlayer.h"

namespace {

using namespace recorder;
using std::chrono::milliseconds;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using tests::recorder::FakePlaybackTimer;
using tests::recorder::ManualClock;

// Records what the player did and when on the fake timeline; each send costs `sendCost`.
class TimedSink final : public IPlaybackSink {
public:
    explicit TimedSink(FakePlaybackTimer& timer) : timer_(timer) {}

    void SendMidiMsg(std::uint32_t msg) override {
        std::lock_guard lock(mutex_);
        sentAt.push_back(timer_.Elapsed().count());
        sent.push_back(msg);
        timer_.Advance(sendCost);
        changed_.notify_all();
    }
    void ShowNoteOn(std::uint8_t note, std::uint8_t velocity) override {
        std::lock_guard lock(mutex_);
        shown.push_back(int(note) * 1000 + velocity);
    }
    void ShowNoteOff(std::uint8_t note) override {
        std::lock_guard lock(mutex_);
        shown.push_back(-int(note));
    }
    void PostProgress(std::uint32_t position) override {
        std::lock_guard lock(mutex_);
        progress.push_back(position);
    }
    void PostPlaybackDone(std::uint64_t run) override {
        std::lock_guard lock(mutex_);
        doneRuns.push_back(run);
    }
    void WaitForSends(std::size_t n) {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return sent.size() >= n; });
    }

    milliseconds sendCost{0};
    std::vector<long> sentAt;
    std::vector<std::uint32_t> sent;
    std::vector<int> shown;
    std::vector<std::uint32_t> progress;
    std::vector<std::uint64_t> doneRuns;

private:
    FakePlaybackTimer& timer_;
    std::mutex mutex_;
    std::condition_variable changed_;
};

class SongPlayerTest : public ::testing::Test {
protected:
    void Load(const std::vector<NoteEvent>& events) {
        recorder.Replace(events);
        recorder.NextPosition();  // a player starts from the beginning whatever the position
    }
    void PlayToTheEnd() {
        SongPlayer player(recorder, lock, sink, timer, 7);
        player.Start();
        player.Join();
    }

    ManualClock clock;
    CNoteRecorder recorder{clock};
    std::recursive_mutex lock;
    FakePlaybackTimer timer;
    TimedSink sink{timer};
};

TEST_F(SongPlayerTest, EventsAreDueAtTheSumOfTheirDelaysWhateverSendingCosts) {
    struct Case {
        const char* name;
        std::vector<std::uint16_t> delays;
        long sendCostMs;
        std::vector<long> sentAt;
    };
    const Case cases[] = {
        {"free sends", {0, 100, 100, 100}, 0, {0, 100, 200, 300}},
        {"sends cost less than the delays", {0, 100, 100, 100}, 30, {0, 100, 200, 300}},
        {"late events catch up, later ones keep the timeline",
         {0, 10, 10, 100},
         25,
         {0, 25, 50, 120}},
        {"the first event's own delay is not waited for", {500, 0, 40}, 0, {0, 0, 40}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FakePlaybackTimer freshTimer;
        TimedSink freshSink(freshTimer);
        freshSink.sendCost = milliseconds(c.sendCostMs);
        std::vector<NoteEvent> events;
        for (std::size_t i = 0; i < c.delays.size(); ++i)
            events.push_back(MakeNoteEvent(std::uint16_t(0xFF3C + i), c.delays[i]));
        recorder.Replace(events);
        {
            SongPlayer player(recorder, lock, freshSink, freshTimer, 1);
            player.Start();
            player.Join();
        }
        EXPECT_EQ(freshSink.sentAt, c.sentAt);
        EXPECT_EQ(freshSink.doneRuns, std::vector<std::uint64_t>{1});
    }
}

TEST_F(SongPlayerTest, ReplaysNotesWithTheirDisplayAndProgress) {
    Load({0x0000FF3C, 0x00FA7F3C, 0x0010803C, 0x0005C07F});
    PlayToTheEnd();
    EXPECT_THAT(sink.sent, ElementsAre(0x7F3C90u, 0x7F3C80u, 0x003C90u, 0x407F90u));
    // A note-on of velocity 0 shows as a release without a list entry.
    EXPECT_THAT(sink.shown, ElementsAre(60 * 1000 + 127, -60, -60, 127 * 1000 + 64));
    EXPECT_THAT(sink.progress, ElementsAre(0u, 1u, 2u, 3u));
    EXPECT_THAT(timer.Waits(),
                ElementsAre(milliseconds(250), milliseconds(266), milliseconds(271)));
    EXPECT_THAT(sink.doneRuns, ElementsAre(7u));
    EXPECT_EQ(recorder.GetPosition(), 4u);
}

TEST_F(SongPlayerTest, OneEventSongPlaysItWithoutWaitingAndEmptySongEndsAtOnce) {
    Load({0x1234FF3C});
    PlayToTheEnd();
    EXPECT_THAT(sink.sent, ElementsAre(0x7F3C90u));
    EXPECT_TRUE(timer.Waits().empty());
    EXPECT_THAT(sink.doneRuns, ElementsAre(7u));

    Load({});
    PlayToTheEnd();
    EXPECT_EQ(sink.sent.size(), 1u);
    EXPECT_THAT(sink.doneRuns, ElementsAre(7u, 7u));
}

TEST_F(SongPlayerTest, StopDuringALongWaitEndsTheRunAtOnceAndTouchesTheSongNoMore) {
    Load({0x0000FF3C, 0xEA607F3C, 0x0001FF40});
    timer.HoldFrom(milliseconds(1));  // the 60,000 ms wait never ends by itself
    SongPlayer player(recorder, lock, sink, timer, 3);
    player.Start();
    sink.WaitForSends(1);
    {
        // The song may change under the lock once the stop is requested.
        std::lock_guard guard(lock);
        player.RequestStop();
        recorder.Replace({0x0000FF50});
        recorder.ResetPosition();
    }
    player.Join();
    EXPECT_EQ(timer.StoppedWaits(), 1);
    EXPECT_THAT(sink.sent, ElementsAre(0x7F3C90u));
    EXPECT_EQ(recorder.GetPosition(), 0u);
    EXPECT_THAT(sink.doneRuns, ElementsAre(3u));
    EXPECT_TRUE(player.Finished());
}

TEST_F(SongPlayerTest, DestroyingARunningPlayerStopsAndJoinsIt) {
    Load({0x0000FF3C, 0xEA607F3C});
    timer.HoldFrom(milliseconds(1));
    {
        SongPlayer player(recorder, lock, sink, timer, 4);
        player.Start();
        sink.WaitForSends(1);
    }
    EXPECT_EQ(timer.StoppedWaits(), 1);
    EXPECT_THAT(sink.doneRuns, ElementsAre(4u));
}

}  // namespace
