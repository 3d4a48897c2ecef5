#include "device/CKeyNoteMap.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace device {
namespace {

// Writes every call as one line: "press 36", "play 36 1", "list 36 127 4", "focus".
class RecordingSink : public IKeyNoteSink {
public:
    void PressKey(BYTE note) override { calls.push_back("press " + std::to_string(note)); }
    void ReleaseKey(BYTE note) override { calls.push_back("release " + std::to_string(note)); }
    int FirstNote() const override { return firstNote; }
    void PlayNote(BYTE note, BOOL on) override {
        calls.push_back("play " + std::to_string(note) + " " + std::to_string(on));
    }
    void AddMessage(BYTE note, BYTE velocity, int source) override {
        calls.push_back("list " + std::to_string(note) + " " + std::to_string(velocity) + " " +
                        std::to_string(source));
    }
    void TakeFocus() override { calls.push_back("focus"); }

    std::vector<std::string> Take() { return std::exchange(calls, {}); }

    int firstNote = 36;
    std::vector<std::string> calls;
};

using Calls = std::vector<std::string>;

class CKeyNoteMapTest : public ::testing::Test {
protected:
    void SetUp() override { map.SetSink(&sink); }
    RecordingSink sink;
    CKeyNoteMap map;
};

TEST_F(CKeyNoteMapTest, PressAndReleaseDriveThePianoTheNoteAndTheListInOrder) {
    map.HandleKey(0, 1);
    EXPECT_EQ(sink.Take(), (Calls{"press 36", "play 36 1", "list 36 127 4", "focus"}));
    EXPECT_EQ(map.Slot(0), 36);
    map.HandleKey(0, 0);
    EXPECT_EQ(sink.Take(), (Calls{"release 36", "play 36 0", "focus"}));
    EXPECT_EQ(map.Slot(0), CKeyNoteMap::kFree);

    map.HandleKey(48, 1);
    EXPECT_EQ(map.Octave(), 4);
    EXPECT_EQ(sink.Take(), (Calls{"press 84", "play 84 1", "list 84 127 4", "focus"}));
}

TEST_F(CKeyNoteMapTest, KeysAnOctaveApartShareOneSlot) {
    map.HandleKey(0, 1);
    sink.Take();
    map.HandleKey(12, 1);
    EXPECT_EQ(sink.Take(), (Calls{"focus"})) << "the second key is ignored";
    map.HandleKey(12, 0);
    EXPECT_EQ(sink.Take(), (Calls{"release 36", "play 36 0", "focus"}))
        << "releasing either key ends the first key's note";
    map.HandleKey(0, 0);
    EXPECT_EQ(sink.Take(), (Calls{"focus"}));

    // The other order: key 12 sounds, key 0 is ignored.
    map.HandleKey(12, 1);
    map.HandleKey(0, 1);
    map.HandleKey(12, 0);
    map.HandleKey(0, 0);
    EXPECT_EQ(sink.Take(), (Calls{"press 48", "play 48 1", "list 48 127 4", "focus", "focus",
                                  "release 48", "play 48 0", "focus", "focus"}));
}

TEST_F(CKeyNoteMapTest, ReleaseEndsTheNotePlayedEvenAfterTheFirstNoteMoved) {
    map.HandleKey(7, 1);
    sink.firstNote = 60;
    map.HandleKey(7, 0);
    map.HandleKey(7, 1);
    EXPECT_EQ(sink.Take(),
              (Calls{"press 43", "play 43 1", "list 43 127 4", "focus", "release 43", "play 43 0",
                     "focus", "press 67", "play 67 1", "list 67 127 4", "focus"}));
}

TEST_F(CKeyNoteMapTest, PitchClassPlaysOnlyForOneAndReleasesOnlyForZero) {
    map.HandlePitchClass(3, 2);
    map.HandlePitchClass(3, -1);
    map.HandlePitchClass(12, 1);
    map.HandlePitchClass(-1, 1);
    EXPECT_TRUE(sink.Take().empty());
    map.HandlePitchClass(3, 0);
    EXPECT_TRUE(sink.Take().empty()) << "a release of a free slot does nothing";
    map.HandlePitchClass(3, 1);
    EXPECT_EQ(sink.Take(), (Calls{"press 39", "play 39 1", "list 39 127 4"}));
}

TEST_F(CKeyNoteMapTest, NoteWrapsModulo256) {
    sink.firstNote = 250;
    map.HandleKey(10, 1);
    EXPECT_EQ(sink.Take(), (Calls{"press 4", "play 4 1", "list 4 127 4", "focus"}));
}

TEST_F(CKeyNoteMapTest, HandlesATicksEventsInOrder) {
    const KeyEvent events[] = {{2, 0, 2, true}, {13, 1, 4, true}, {2, 0, 2, false}};
    map.HandleKeyEvents(events);
    EXPECT_EQ(sink.Take(),
              (Calls{"press 38", "play 38 1", "list 38 127 4", "focus", "press 49", "play 49 1",
                     "list 49 127 4", "focus", "release 38", "play 38 0", "focus"}));
}

}  // namespace
}  // namespace device
