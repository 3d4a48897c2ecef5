#pragma once

#include <cstdint>
#include <set>
#include <span>
#include <vector>

#include "recorder/NoteEvent.h"

// What a song holds, and the song in other formats: a Standard MIDI File and a WAV file.

namespace recorder {

// One short message of a song at its time from the first event, in milliseconds.
struct TimedMessage {
    std::uint64_t timeMs;
    std::uint32_t msg;
};

// The messages the player sends, at the times the player sends them: event 0 at 0, event k
// at the sum of the delays of events 1..k (the first event's own delay is not waited for).
std::vector<TimedMessage> SongTimeline(std::span<const NoteEvent> events);

struct SongSummary {
    std::uint64_t durationMs = 0;      // time of the last event
    std::set<std::uint8_t> notesUsed;  // notes of the note-ons with a velocity above 0
    std::size_t noteOns = 0;
};
SongSummary Summarise(std::span<const NoteEvent> events);

// A type 0 Standard MIDI File of the song: 1000 ticks per quarter at 60 beats per minute, so a
// tick is exactly one millisecond; a program change to `program` (1-based, none when 0 or above
// 128) first, then every event on channel 1 with its delay as the delta time.
std::vector<std::uint8_t> ToStandardMidiFile(std::span<const NoteEvent> events,
                                             std::uint32_t program);

// A 16-bit PCM WAV file of interleaved stereo float samples in [-1, 1] (clipped).
std::vector<std::uint8_t> ToWav(std::span<const float> stereo, int sampleRate);

}  // namespace recorder
