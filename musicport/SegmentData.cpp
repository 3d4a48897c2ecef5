#include "musicport/SegmentData.h"

#include <algorithm>
#include <cmath>

namespace musicport {

namespace pm = platform::music;

namespace {
// A MIDI file with SMPTE timing plays as if at 120 quarters a minute: 2 quarters a second.
constexpr double kSmpteQuartersPerSecond = 2.0;
constexpr double kMsPer100ns = 1e-4;
}  // namespace

SegmentData SegmentData::FromMidiFile(const MidiFile& file) {
    SegmentData data;
    data.standardMidiFile = true;
    double unitsPerTick = 0;
    if (file.ticksPerQuarter != 0) {
        unitsPerTick = double(DMUS_PPQ) / file.ticksPerQuarter;
    } else {
        const double fps = file.framesPerSecond == 29 ? 29.97 : file.framesPerSecond;
        unitsPerTick = DMUS_PPQ * kSmpteQuartersPerSecond / (fps * file.ticksPerFrame);
    }
    const auto toTime = [&](std::uint32_t tick) {
        return MUSIC_TIME(std::min(std::llround(tick * unitsPerTick), std::llround(0x7FFFFFFF)));
    };
    data.events.reserve(file.events.size());
    for (const MidiFileEvent& e : file.events) {
        Event event;
        event.time = toTime(e.tick);
        event.pchannel = e.bytes[0] & 0x0F;
        event.length = e.length;
        std::copy(e.bytes, e.bytes + 3, event.bytes);
        data.events.push_back(event);
    }
    data.tempos.push_back({});
    if (file.ticksPerQuarter != 0) {
        for (const MidiFileTempo& t : file.tempos) {
            const MUSIC_TIME time = toTime(t.tick);
            if (data.tempos.back().time == time)
                data.tempos.back().microsecondsPerQuarter = t.microsecondsPerQuarter;
            else
                data.tempos.push_back({time, double(t.microsecondsPerQuarter)});
        }
    }
    const MUSIC_TIME last = data.events.empty() ? 0 : data.events.back().time;
    data.length = std::max({MUSIC_TIME{1}, toTime(file.lengthTicks), last + 1});
    return data;
}

namespace {

// Milliseconds at each tempo change, so that a time converts with one binary search.
class TempoClock {
public:
    explicit TempoClock(const std::vector<SegmentData::Tempo>& tempos) : tempos_(tempos) {
        double ms = 0;
        MUSIC_TIME at = 0;
        double tempo = 500'000;
        for (const SegmentData::Tempo& t : tempos_) {
            ms += double(t.time - at) * tempo / 1000.0 / DMUS_PPQ;
            msAt_.push_back(ms);
            at = t.time;
            tempo = t.microsecondsPerQuarter;
        }
    }
    double Ms(MUSIC_TIME time) const {
        // The last change at or before `time` (changes at later times do not count).
        const auto next = std::upper_bound(
            tempos_.begin(), tempos_.end(), time,
            [](MUSIC_TIME t, const SegmentData::Tempo& tempo) { return t < tempo.time; });
        if (next == tempos_.begin())
            return double(time) * 500'000 / 1000.0 / DMUS_PPQ;
        const auto i = std::size_t(next - tempos_.begin()) - 1;
        return msAt_[i] + double(time - tempos_[i].time) * tempos_[i].microsecondsPerQuarter /
                              1000.0 / DMUS_PPQ;
    }

private:
    const std::vector<SegmentData::Tempo>& tempos_;
    std::vector<double> msAt_;
};

}  // namespace

double SegmentData::MillisecondsAt(MUSIC_TIME time) const {
    return TempoClock(tempos).Ms(time);
}

std::vector<pm::TimedMessage> SegmentData::Schedule(std::size_t maxMessages,
                                                    std::vector<Pass>* passes) const {
    const TempoClock clock(tempos);
    const MUSIC_TIME loopTo = loopEnd > loopStart ? std::min(loopEnd, length) : length;
    const MUSIC_TIME loopFrom = std::min(loopStart, loopTo);
    std::vector<Pass> plan;
    double at = 0;
    const auto add = [&](MUSIC_TIME from, MUSIC_TIME to) {
        if (to <= from)
            return;
        plan.push_back({at, from, to});
        at += clock.Ms(to) - clock.Ms(from);
    };
    const MUSIC_TIME start = std::clamp(startPoint, MUSIC_TIME{0}, length);
    if (repeats == 0 || start >= loopTo) {
        add(start, length);
    } else {
        add(start, loopTo);
        const bool endless = repeats == DMUS_SEG_REPEAT_INFINITE;
        // An endless loop is planned until the message budget is spent; an empty loop has
        // nothing to repeat.
        const auto loopEvents = std::count_if(events.begin(), events.end(), [&](const Event& e) {
            return e.time >= loopFrom && e.time < loopTo;
        });
        const DWORD times =
            endless ? (loopEvents == 0
                           ? 0
                           : DWORD(std::min<std::size_t>(maxMessages / loopEvents + 1, 0xFFFFFFF)))
                    : repeats;
        for (DWORD i = 0; i < times; ++i)
            add(loopFrom, loopTo);
        if (!endless)
            add(loopTo, length);
    }

    std::vector<pm::TimedMessage> messages;
    for (const Pass& pass : plan) {
        const double passBase = pass.startMs - clock.Ms(pass.from);
        const auto first =
            std::lower_bound(events.begin(), events.end(), pass.from,
                             [](const Event& e, MUSIC_TIME t) { return e.time < t; });
        for (auto e = first; e != events.end() && e->time < pass.to; ++e) {
            if (messages.size() >= maxMessages)
                break;
            pm::TimedMessage m;
            m.offset =
                pm::REFERENCE_TIME(std::llround((passBase + clock.Ms(e->time)) / kMsPer100ns));
            m.channelGroup = e->pchannel / 16 + 1;
            m.length = e->length;
            std::copy(e->bytes, e->bytes + 3, m.bytes);
            messages.push_back(m);
        }
    }
    if (passes != nullptr)
        *passes = std::move(plan);
    return messages;
}

MUSIC_TIME SegmentData::SeekAt(const std::vector<Pass>& passes, double elapsedMs) const {
    if (passes.empty())
        return std::clamp(startPoint, MUSIC_TIME{0}, length);
    const TempoClock clock(tempos);
    auto pass = std::upper_bound(passes.begin(), passes.end(), elapsedMs,
                                 [](double ms, const Pass& p) { return ms < p.startMs; });
    if (pass != passes.begin())
        --pass;
    // Inverse of MillisecondsAt within the pass, by bisection over music time.
    const double target = clock.Ms(pass->from) + (elapsedMs - pass->startMs);
    MUSIC_TIME lo = pass->from;
    MUSIC_TIME hi = pass->to;
    if (clock.Ms(hi) <= target)
        return hi;
    while (hi - lo > 1) {
        const MUSIC_TIME mid = lo + (hi - lo) / 2;
        (clock.Ms(mid) <= target ? lo : hi) = mid;
    }
    return lo;
}

}  // namespace musicport
