#pragma once

#include <array>
#include <cstddef>
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

// A WAV file of 16-bit stereo PCM: the header, then 4 bytes a frame, written as it is rendered.
constexpr std::size_t kWavHeaderBytes = 44;
constexpr std::uint64_t kWavBytesPerFrame = 4;
// The most frames whose file the 32-bit RIFF sizes can describe: the RIFF size, 36 + the data
// bytes, is at most 2^32 - 1 (a little under 6 h 46 min at 44100 Hz).
constexpr std::uint64_t kWavMaxFrames = (0xFFFFFFFFull - 36) / kWavBytesPerFrame;

// The frame of a song time in milliseconds.
constexpr std::uint64_t FrameAt(std::uint64_t timeMs, int sampleRate) {
    return timeMs * std::uint64_t(sampleRate) / 1000;
}
// Frames of a rendering of `timeline`: up to its last message, then `tailFrames` of release.
std::uint64_t RenderedFrames(std::span<const TimedMessage> timeline, int sampleRate,
                             std::uint64_t tailFrames);

// The header of a WAV file of `frames` frames (at most kWavMaxFrames).
std::array<std::uint8_t, kWavHeaderBytes> WavHeader(std::uint64_t frames, int sampleRate);
// Interleaved stereo float samples in [-1, 1] (clipped) as 16-bit PCM, appended to `out`.
void AppendWavSamples(std::span<const float> stereo, std::vector<std::uint8_t>& out);

}  // namespace recorder
