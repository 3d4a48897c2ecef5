// The application's MIDI receiver: what reaches the dialog from the input thread, in what
// form, how often it is woken, and what a vanished port leaves to release.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "app/CInputReceiver.h"

namespace {

using musicport::BYTE;
using musicport::DWORD;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class RecordingView final : public app::IInputView {
public:
    void PressKey(BYTE note) override { calls.push_back("press " + std::to_string(note)); }
    void ReleaseKey(BYTE note) override { calls.push_back("release " + std::to_string(note)); }
    void AddMessage(BYTE note, BYTE velocity, int source) override {
        calls.push_back("row " + std::to_string(note) + " " + std::to_string(velocity) + " " +
                        std::to_string(source));
    }
    void RecordingStep(DWORD message, std::chrono::steady_clock::time_point arrival) override {
        recorded.push_back(message);
        arrivals.push_back(arrival);
    }
    void SendToOutput(DWORD message) override { sent.push_back(message); }
    std::vector<std::string> calls;
    std::vector<DWORD> recorded;
    std::vector<std::chrono::steady_clock::time_point> arrivals;
    std::vector<DWORD> sent;
};

class CInputReceiverTest : public ::testing::Test {
protected:
    CInputReceiverTest() {
        receiver.Attach(&view, [this](std::function<void()> drain) {
            ++posts;
            pending = std::move(drain);
        });
    }
    void Receive(DWORD msg, musicport::REFERENCE_TIME stamp = 0) {
        receiver.ReceiveMidiMsg(stamp, 1, msg);
    }

    RecordingView view;
    app::CInputReceiver receiver;
    int posts = 0;
    std::function<void()> pending;
};

TEST_F(CInputReceiverTest, NotesAreRecordedShownAndListedOtherMessagesIgnored) {
    Receive(0x00403C90);  // note-on 60
    Receive(0x00003C90);  // note-on with velocity 0 ends it
    Receive(0x00504095);  // note-on 64 on channel 6
    Receive(0x00004085);  // note-off 64 on channel 6
    Receive(0x000005C0);  // program change: nothing at all
    Receive(0x00007BB0);  // controller: nothing at all
    Receive(0x002000E0);  // pitch bend: nothing at all
    const BYTE sysex[] = {0xF0, 1, 2, 3, 0xF7};
    receiver.ReceiveMidiMsg(0, 1, 5, sysex);
    ASSERT_EQ(posts, 1);  // one wake-up for the lot
    pending();
    EXPECT_THAT(view.calls, ElementsAre("press 60", "row 60 64 2", "release 60", "press 64",
                                        "row 64 80 2", "release 64"));
    EXPECT_THAT(view.recorded, ElementsAre(0x00403C90u, 0x00003C90u, 0x00504095u, 0x00004085u));
    EXPECT_THAT(view.sent, IsEmpty());  // thru sounds them, not the receiver
}

TEST_F(CInputReceiverTest, AFloodIsBoundedAndCounted) {
    const std::size_t flood = app::CInputReceiver::kMaxPending + 500;
    for (std::size_t i = 0; i < flood; ++i)
        Receive(0x00400090u | DWORD((i & 0x7F) << 8));
    EXPECT_EQ(posts, 1);
    EXPECT_EQ(receiver.Dropped(), 500u);
    pending();
    EXPECT_EQ(view.recorded.size(), app::CInputReceiver::kMaxPending);
    Receive(0x00403C90);
    EXPECT_EQ(posts, 2);  // drained: the next message wakes the GUI again
}

TEST_F(CInputReceiverTest, ReleaseAllEndsWhatInputLeftSounding) {
    Receive(0x00403C90);  // channel 1: played through thru, so a note-off is owed
    Receive(0x00404591);  // channel 2: shown only
    Receive(0x00404890);
    Receive(0x00004890);  // already ended
    pending();
    view.calls.clear();
    receiver.ReleaseAll();
    EXPECT_THAT(view.calls, ElementsAre("release 60", "release 69"));
    EXPECT_THAT(view.sent, ElementsAre(0x00003C80u));
    view.calls.clear();
    receiver.ReleaseAll();
    EXPECT_THAT(view.calls, IsEmpty());
}

TEST_F(CInputReceiverTest, EachNoteIsRecordedWithItsArrivalStamp) {
    // Stamps are the input port's: 100 ns steps of the steady clock. One drain takes both.
    Receive(0x00403C90, 12'345'678'000);
    Receive(0x00003C90, 12'347'178'000);  // 150 ms later
    pending();
    using std::chrono::steady_clock;
    EXPECT_THAT(view.arrivals,
                ElementsAre(steady_clock::time_point(std::chrono::microseconds(1'234'567'800)),
                            steady_clock::time_point(std::chrono::microseconds(1'234'717'800))));
}

TEST_F(CInputReceiverTest, AReattachedReceiverNeverHandsTheOldViewsNotesToTheNewOne) {
    Receive(0x00403C90);  // waiting for the first view's drain
    RecordingView second;
    int secondPosts = 0;
    std::function<void()> secondPending;
    receiver.Attach(&second, [&](std::function<void()> drain) {
        ++secondPosts;
        secondPending = std::move(drain);
    });
    pending();  // the old view's drain still runs, late
    EXPECT_THAT(second.calls, IsEmpty());
    EXPECT_THAT(view.calls, IsEmpty());
    Receive(0x00404090);  // the new view is woken for its own notes
    ASSERT_EQ(secondPosts, 1);
    secondPending();
    EXPECT_THAT(second.calls, ElementsAre("press 64", "row 64 64 2"));
    EXPECT_EQ(posts, 1);
}

TEST_F(CInputReceiverTest, NothingIsPostedToADialogOnceItHasDetached) {
    // The input thread is inside its post when the dialog detaches: the detach must wait for
    // it, so that no post can reach the dialog after Attach(nullptr) has returned.
    std::atomic<bool> posting{false};
    std::atomic<bool> detaching{false};
    std::atomic<bool> detached{false};
    std::atomic<bool> postAfterDetach{false};
    receiver.Attach(&view, [&](std::function<void()>) {
        posting = true;
        while (!detaching)
            std::this_thread::yield();
        // Time for a detach that does not wait to finish (it cannot when it waits).
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        postAfterDetach = detached.load();
    });
    std::thread input([&] { Receive(0x00403C90); });
    while (!posting)
        std::this_thread::yield();
    detaching = true;
    receiver.Attach(nullptr, {});
    detached = true;
    input.join();
    EXPECT_FALSE(postAfterDetach);
}

TEST_F(CInputReceiverTest, WithoutADialogNothingIsQueued) {
    receiver.Attach(nullptr, {});
    Receive(0x00403C90);
    EXPECT_EQ(posts, 0);
    receiver.Drain();
    EXPECT_THAT(view.calls, IsEmpty());
}

}  // namespace
