// Event coding and the recorder's delays, against a clock set by hand.

#include <gtest/gtest.h>

#include <cstdint>

#include "FakeClocks.h"
#include "recorder/CNoteRecorder.h"
#include "recorder/NoteEvent.h"

namespace {

using namespace recorder;
using std::chrono::milliseconds;
using tests::recorder::ManualClock;

TEST(NoteEventTest, CodesAndDecodesShortMessages) {
    struct Case {
        std::uint32_t msg;
        std::uint16_t code;
        std::uint32_t replayed;
    };
    const Case cases[] = {
        {0x007F3C90, 0xFF3C, 0x007F3C90},  // note-on 60, velocity 127
        {0x007F3C80, 0x7F3C, 0x007F3C80},  // its note-off
        {0x00003C90, 0x803C, 0x00003C90},  // note-on of velocity 0 keeps the on bit
        {0x00407F94, 0xC07F, 0x00407F90},  // channel 5 replays on channel 1
        {0x00FF3C80, 0x7F3C, 0x007F3C80},  // velocity keeps its low 7 bits
        {0x00FF3C90, 0xFF3C, 0x007F3C90},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.msg);
        EXPECT_EQ(EncodeNoteCode(c.msg), c.code);
        EXPECT_EQ(DecodeNoteCode(c.code), c.replayed);
    }
    static_assert(MakeNoteEvent(0xFF3C, 250) == 0x00FAFF3Cu);
    static_assert(DelayOf(0x00FAFF3Cu) == 250 && NoteCodeOf(0x00FAFF3Cu) == 0xFF3C);
}

TEST(CNoteRecorderTest, DelaysComeFromTheClockBetweenEvents) {
    ManualClock clock;
    CNoteRecorder recorder(clock);
    clock.Advance(milliseconds(5000));  // the silence before the first note is not kept
    recorder.AddEvent(0x007F3C90);
    clock.Advance(milliseconds(250));
    recorder.AddEvent(0x007F3C80);
    clock.Advance(milliseconds(70000));  // kept modulo 65,536 ms
    recorder.AddEvent(0x007F4090);
    clock.Advance(milliseconds(65535));
    recorder.AddEvent(0x007F4080);

    ASSERT_EQ(recorder.GetCount(), 4u);
    EXPECT_EQ(recorder.GetPosition(), 4u);
    const NoteEvent* events = recorder.GetData();
    EXPECT_EQ(events[0], 0x0000FF3Cu);
    EXPECT_EQ(events[1], 0x00FA7F3Cu);
    EXPECT_EQ(recorder.GetDelay(2), 4464);
    EXPECT_EQ(recorder.GetDelay(3), 65535);
    recorder.ResetPosition();
    recorder.NextPosition();
    EXPECT_EQ(recorder.GetEventMsg(), 0x007F3C80u);
}

TEST(CNoteRecorderTest, ANewRecordingStartsAtDelayZeroAndReplacesTheOldEvents) {
    ManualClock clock;
    CNoteRecorder recorder(clock);
    recorder.AddEvent(0x007F3C90);
    clock.Advance(milliseconds(100));
    recorder.AddEvent(0x007F3C80);

    recorder.Clear();
    recorder.ResetPosition();
    EXPECT_EQ(recorder.GetCount(), 0u);
    clock.Advance(milliseconds(3000));
    recorder.AddEvent(0x007F4090);
    ASSERT_EQ(recorder.GetCount(), 1u);
    EXPECT_EQ(recorder.GetData()[0], 0x0000FF40u);
}

}  // namespace
