// The application's MIDI receiver: what reaches the dialog from the input thread, in what
// form, how often it is woken, and what a vanished port leaves to release.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
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
    void RecordingStep(DWORD message) override { recorded.push_back(message); }
    void SendToOutput(DWORD message) override { sent.push_back(message); }
    std::vector<std::string> calls;
    std::vector<DWORD> recorded;
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
    void Receive(DWORD msg) { receiver.ReceiveMidiMsg(0, 1, msg); }

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

TEST_F(CInputReceiverTest, WithoutADialogNothingIsQueued) {
    receiver.Attach(nullptr, {});
    Receive(0x00403C90);
    EXPECT_EQ(posts, 0);
    receiver.Drain();
    EXPECT_THAT(view.calls, IsEmpty());
}

}  // namespace
