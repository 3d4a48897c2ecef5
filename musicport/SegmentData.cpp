#include "musicport/SegmentData.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <set>

#include "platform/music/IInstrument.h"

namespace musicport {

namespace pm = platform::music;

namespace {
// A MIDI file with SMPTE timing plays as if at 120 quarters a minute: 2 quarters a second.
constexpr double kSmpteQuartersPerSecond = 2.0;
constexpr double kMsPer100ns = 1e-4;
// Offsets are kept within REFERENCE_TIME's range (about 29,000 years); a tail after billions
// of repeats of a long loop is never reached anyway.
constexpr double kMaxOffsetMs = 9e14;
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

std::vector<DWORD> SegmentData::ProgramPatches() const {
    std::map<DWORD, DWORD> banks;  // by pchannel
    std::set<DWORD> patches;
    for (const Event& e : events) {
        const BYTE kind = e.bytes[0] & 0xF0;
        if (kind == 0xB0 && e.length >= 3 && e.bytes[1] == 0) {
            banks[e.pchannel] = e.bytes[2];
        } else if (kind == 0xC0 && e.length >= 2) {
            const bool drums = e.pchannel % 16 == 9;
            patches.insert(drums ? pm::F_INSTRUMENT_DRUMS | (e.bytes[1] & 0x7F)
                                 : pm::MakePatch(banks[e.pchannel], 0, e.bytes[1], false));
        }
    }
    return {patches.begin(), patches.end()};
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
    const auto add = [&](MUSIC_TIME from, MUSIC_TIME to, DWORD times, bool endless) {
        if (to <= from || times == 0)
            return;
        plan.push_back({at, from, to, times, endless});
        at += double(times) * (clock.Ms(to) - clock.Ms(from));
    };
    const MUSIC_TIME start = std::clamp(startPoint, MUSIC_TIME{0}, length);
    if (repeats == 0 || start >= loopTo) {
        add(start, length, 1, false);
    } else {
        const bool endless = repeats == DMUS_SEG_REPEAT_INFINITE;
        add(start, loopTo, 1, false);
        add(loopFrom, loopTo, endless ? DMUS_SEG_REPEAT_INFINITE : repeats, endless);
        if (!endless)
            add(loopTo, length, 1, false);
    }

    std::vector<pm::TimedMessage> messages;
    for (const Pass& pass : plan) {
        const double passMs = clock.Ms(pass.to) - clock.Ms(pass.from);
        const auto first =
            std::lower_bound(events.begin(), events.end(), pass.from,
                             [](const Event& e, MUSIC_TIME t) { return e.time < t; });
        const auto last = std::lower_bound(first, events.end(), pass.to,
                                           [](const Event& e, MUSIC_TIME t) { return e.time < t; });
        // A span without events adds only time; the budget ends the repeats of one with them.
        for (DWORD k = 0; first != last && k < pass.times && messages.size() < maxMessages; ++k) {
            const double passBase = pass.startMs + double(k) * passMs - clock.Ms(pass.from);
            for (auto e = first; e != last && messages.size() < maxMessages; ++e) {
                pm::TimedMessage m;
                const double ms = std::min(passBase + clock.Ms(e->time), kMaxOffsetMs);
                m.offset = pm::REFERENCE_TIME(std::llround(ms / kMsPer100ns));
                m.channelGroup = e->pchannel / 16 + 1;
                m.length = e->length;
                std::copy(e->bytes, e->bytes + 3, m.bytes);
                messages.push_back(m);
            }
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
    // Within a repeated span, the repeat that `elapsedMs` falls in.
    double into = std::max(0.0, elapsedMs - pass->startMs);
    const double passMs = clock.Ms(pass->to) - clock.Ms(pass->from);
    if ((pass->times > 1 || pass->endless) && passMs > 0) {
        double k = std::floor(into / passMs);
        if (!pass->endless)
            k = std::min(k, double(pass->times - 1));
        into -= k * passMs;
    }
    // Inverse of MillisecondsAt within the pass, by bisection over music time.
    const double target = clock.Ms(pass->from) + into;
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
