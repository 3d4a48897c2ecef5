#pragma once

#include <cstdint>
#include <vector>

#include "musicport/MidiFileReader.h"
#include "musicport/MidiMsg.h"
#include "platform/music/ISegmentPlayer.h"

namespace musicport {

// Music time: 768 units per quarter note.
using MUSIC_TIME = std::int32_t;
constexpr MUSIC_TIME DMUS_PPQ = 768;
constexpr DWORD DMUS_SEG_REPEAT_INFINITE = 0xFFFFFFFF;

// What a segment holds: channel messages on performance channels (channel group and
// channel: pchannel = 16 * group index + channel) at music times, the tempo map, and the
// segment's length, loop, repeats and start point. A plain value: copying clones it.
struct SegmentData {
    struct Event {
        MUSIC_TIME time = 0;
        DWORD pchannel = 0;
        BYTE length = 0;
        BYTE bytes[3] = {};
    };
    struct Tempo {
        MUSIC_TIME time = 0;
        double microsecondsPerQuarter = 500'000;
    };

    std::vector<Event> events;  // by time
    std::vector<Tempo> tempos;  // by time; the first at 0
    MUSIC_TIME length = 1;
    MUSIC_TIME loopStart = 0;
    MUSIC_TIME loopEnd = 0;  // 0: the loop is the whole segment
    DWORD repeats = 0;       // times the loop plays again after the first pass
    MUSIC_TIME startPoint = 0;
    DWORD defaultResolution = 0;
    std::vector<DWORD> pchannelsUsed;
    bool standardMidiFile = false;

    // Channel messages and tempo of a MIDI file; its channel c is pchannel c.
    static SegmentData FromMidiFile(const MidiFile& file);

    // The patches the program changes select, each once, in ascending order: the bank
    // from the channel's last bank select (controller 0) before it, drum kits on the tenth
    // channel of each group.
    std::vector<DWORD> ProgramPatches() const;

    // Milliseconds from music time 0 to `time` under the tempo map.
    double MillisecondsAt(MUSIC_TIME time) const;
    // The messages of one performance from the start point: up to the loop end, the loop
    // `repeats` times, then on to the length; offsets from the start. At most
    // `maxMessages` are made: an endless loop, or one repeated more times than the budget
    // holds, stops there.
    struct Pass {
        double startMs = 0;  // offset of the pass from the performance start
        MUSIC_TIME from = 0;
        MUSIC_TIME to = 0;
        // How many times the span plays back to back; one entry stands for all repeats of
        // the loop, so the plan stays small whatever the repeat count.
        DWORD times = 1;
        bool endless = false;
    };
    std::vector<platform::music::TimedMessage> Schedule(std::size_t maxMessages,
                                                        std::vector<Pass>* passes = nullptr) const;
    // Music time reached `elapsedMs` after the start of a performance with `passes`.
    MUSIC_TIME SeekAt(const std::vector<Pass>& passes, double elapsedMs) const;
};

}  // namespace musicport
