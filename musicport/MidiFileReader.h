#pragma once

// Reader of Standard MIDI Files, formats 0 and 1. Plain C++: no platform or UI headers.

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace musicport {

// One channel message of a track at its absolute tick.
struct MidiFileEvent {
    std::uint32_t tick = 0;
    std::uint16_t track = 0;
    std::uint8_t length = 0;  // 2 or 3
    std::uint8_t bytes[3] = {};
};

struct MidiFileTempo {
    std::uint32_t tick = 0;
    std::uint32_t microsecondsPerQuarter = 500'000;
};

struct MidiFile {
    std::uint16_t format = 0;
    std::uint16_t tracks = 0;
    // Ticks per quarter note; for SMPTE timing, ticks per second are framesPerSecond *
    // ticksPerFrame (29 stands for 29.97) and ticksPerQuarter is 0.
    std::uint16_t ticksPerQuarter = 0;
    std::uint8_t framesPerSecond = 0;
    std::uint8_t ticksPerFrame = 0;
    // Channel messages of every track, by tick, tracks in file order at equal ticks.
    // System-exclusive events and meta events other than tempo and the texts below are not
    // kept.
    std::vector<MidiFileEvent> events;
    std::vector<MidiFileTempo> tempos;  // by tick
    std::uint32_t lengthTicks = 0;      // the latest end of track
    // Texts as the file holds them (it names no code page): the first non-empty copyright
    // notice of the file, and each track's first non-empty sequence or track name (empty when
    // it has none), by track.
    std::string copyright;
    std::vector<std::string> trackNames;
};

enum class MidiFileStatus {
    Ok,
    NotMidi,            // no "MThd" header
    UnsupportedFormat,  // format 2, or a zero time division
    Truncated,          // the file or a track ends inside a chunk or an event
    BadTrackLength,     // a chunk claims more bytes than the file has
    NoRunningStatus,    // data bytes before any status byte of their track
    BadEvent,           // a malformed number, data byte or meta event
    TooLong,            // ticks beyond 2^31
};

// Parses `bytes`. On failure `file` is left empty. Works in time and memory proportional to
// the input: nothing is allocated from a size the file declares before it is checked.
MidiFileStatus ReadMidiFile(std::span<const std::uint8_t> bytes, MidiFile& file);

// What went wrong, in a few words for a message ("no MThd header", ...); empty for Ok.
std::string_view MidiFileStatusText(MidiFileStatus status);

}  // namespace musicport
