#pragma once

// Times of a Standard MIDI File's ticks in milliseconds through its tempo map. Plain C++.

#include <cstdint>
#include <vector>

#include "musicport/MidiFileReader.h"

namespace musicport {

// Exact: a time is kept as a whole number of 1/Denominator() ms, so rounding happens once, on
// the absolute time, and never adds up along a song. With ticks a quarter note, a tick lasts
// tempo / ticksPerQuarter µs, the tempo being the last change at or before it (500,000 µs until
// the first); with SMPTE timing a tick is 1 / (framesPerSecond × ticksPerFrame) s (29 frames
// standing for 29.97) and tempo changes do not count.
class MidiFileClock {
public:
    explicit MidiFileClock(const MidiFile& file);

    // Time of `tick` from the start of the file in units of 1/Denominator() ms. At most
    // 2^31 × 2^24, so sums and doubling stay within 64 bits.
    std::uint64_t Units(std::uint32_t tick) const;
    std::uint64_t Denominator() const { return m_denominator; }
    // Milliseconds of `tick`, rounded to the nearest (halves up).
    std::uint64_t RoundedMs(std::uint32_t tick) const;

private:
    // From `tick` on, each tick lasts `unitsPerTick`; `unitsAt` is the time of `tick`.
    struct Segment {
        std::uint32_t tick;
        std::uint64_t unitsAt;
        std::uint64_t unitsPerTick;
    };
    std::vector<Segment> m_segments;  // by tick, the first at 0
    std::uint64_t m_denominator = 1;
};

}  // namespace musicport
