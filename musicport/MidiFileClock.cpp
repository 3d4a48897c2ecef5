#include "musicport/MidiFileClock.h"

#include <algorithm>

namespace musicport {
namespace {

constexpr std::uint64_t kDefaultTempo = 500'000;  // µs a quarter note: 120 a minute

}  // namespace

MidiFileClock::MidiFileClock(const MidiFile& file) {
    if (file.ticksPerQuarter == 0) {
        // ms a tick = 1000 / (fps × ticksPerFrame); 29.97 frames = 30000/1001.
        const std::uint64_t ticksPerFrame = std::max<std::uint64_t>(file.ticksPerFrame, 1);
        if (file.framesPerSecond == 29) {
            m_denominator = 30 * ticksPerFrame;
            m_segments.push_back({0, 0, 1001});
        } else {
            m_denominator = std::max<std::uint64_t>(file.framesPerSecond, 1) * ticksPerFrame;
            m_segments.push_back({0, 0, 1000});
        }
        return;
    }
    // ms a tick = tempo / (1000 × ticksPerQuarter).
    m_denominator = 1000 * std::uint64_t{file.ticksPerQuarter};
    m_segments.push_back({0, 0, kDefaultTempo});
    for (const MidiFileTempo& t : file.tempos) {
        Segment& last = m_segments.back();
        if (t.tick == last.tick) {
            last.unitsPerTick = t.microsecondsPerQuarter;  // the later change at a tick wins
            continue;
        }
        const std::uint64_t at = last.unitsAt + (t.tick - last.tick) * last.unitsPerTick;
        m_segments.push_back({t.tick, at, t.microsecondsPerQuarter});
    }
}

std::uint64_t MidiFileClock::Units(std::uint32_t tick) const {
    const auto next =
        std::upper_bound(m_segments.begin(), m_segments.end(), tick,
                         [](std::uint32_t t, const Segment& segment) { return t < segment.tick; });
    const Segment& s = *(next - 1);  // the first segment starts at 0
    return s.unitsAt + (tick - s.tick) * s.unitsPerTick;
}

std::uint64_t MidiFileClock::RoundedMs(std::uint32_t tick) const {
    return (2 * Units(tick) + m_denominator) / (2 * m_denominator);
}

}  // namespace musicport
