#include "musicport/MidiFileClock.h"

#include <gtest/gtest.h>

#include <vector>

#include "tests/musicport/MidiFixtures.h"

namespace musicport {
namespace {

using namespace tests::midi;

// Milliseconds of ticks through the tempo map, from files as a writer makes them: the times
// come out rounded once from the exact value.
TEST(MidiFileClock, MillisecondsOfTicksThroughTheTempoMap) {
    struct Case {
        const char* name;
        Bytes file;
        std::vector<std::uint32_t> ticks;
        std::vector<std::uint64_t> ms;
    };
    const Case cases[] = {
        // 500,000 µs a quarter until a tempo says otherwise; 12 ticks are 12.5 ms (halves up).
        {"default tempo",
         Smf(0, 480, {Track({EndOfTrack()})}),
         {0, 1, 3, 12, 480, 4800},
         {0, 1, 3, 13, 500, 5000}},
        {"tempo changes",
         Smf(0, 96, {Track({Tempo(0, 600'000), Tempo(96, 300'000), EndOfTrack()})}),
         {48, 96, 144, 192, 1},
         {300, 600, 750, 900, 6}},
        // Format 1: a tempo counts in whichever track it stands; at one tick the later track's.
        {"tempo in another track",
         Smf(1, 96,
             {Track({Tempo(0, 1'000'000), EndOfTrack()}),
              Track({Ev(96, {0x90, 60, 1}), Tempo(0, 250'000), EndOfTrack()}),
              Track({Tempo(96, 500'000), EndOfTrack()})}),
         {96, 192},
         {1000, 1500}},
        {"a change at the tick of the previous one replaces it",
         Smf(0, 100, {Track({Tempo(0, 200'000), Tempo(0, 400'000), EndOfTrack()})}),
         {100},
         {400}},
        // SMPTE: 25 frames of 40 ticks, a tick is a millisecond whatever the tempo says.
        {"SMPTE 25 x 40",
         Smf(0, 0xE728, {Track({Tempo(0, 1'000'000), EndOfTrack()})}),
         {1, 1000, 90000},
         {1, 1000, 90000}},
        {"SMPTE 30 x 80", Smf(0, 0xE250, {Track({EndOfTrack()})}), {1, 3, 2400}, {0, 1, 1000}},
        // 29 frames stand for 29.97: a tick of 4 a frame lasts 1001/120 ms.
        {"SMPTE 29.97 x 4",
         Smf(0, 0xE304, {Track({EndOfTrack()})}),
         {3, 120, 107892},
         {25, 1001, 899'999}},
        {"SMPTE 24 x 1", Smf(0, 0xE801, {Track({EndOfTrack()})}), {1, 2, 24}, {42, 83, 1000}},
        // The slowest tempo at the last tick of a file: no overflow on the way.
        {"longest time",
         Smf(0, 1, {Track({Tempo(0, 0xFFFFFF), EndOfTrack()})}),
         {0x7FFFFFFF},
         {36'028'794'854'703ull}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MidiFile file;
        ASSERT_EQ(ReadMidiFile(c.file, file), MidiFileStatus::Ok);
        const MidiFileClock clock(file);
        std::vector<std::uint64_t> ms;
        for (const std::uint32_t tick : c.ticks)
            ms.push_back(clock.RoundedMs(tick));
        EXPECT_EQ(ms, c.ms);
    }
}

// Rounding each delay alone would drift: 1 tick of 1.0417 ms is 1 ms every time. Rounding the
// absolute time keeps the 10th minute on time.
TEST(MidiFileClock, TenMinutesOfShortTicksStayOnTime) {
    MidiFile file;
    ASSERT_EQ(ReadMidiFile(Smf(0, 480, {Track({EndOfTrack()})}), file), MidiFileStatus::Ok);
    const MidiFileClock clock(file);
    EXPECT_EQ(clock.Denominator(), 480'000u);
    EXPECT_EQ(clock.Units(1), 500'000u);
    EXPECT_EQ(clock.RoundedMs(576'000), 600'000u);  // 1,200 quarters of 0.5 s
    EXPECT_EQ(clock.RoundedMs(575'999), 599'999u);  // 599,998.96 ms
}

}  // namespace
}  // namespace musicport
