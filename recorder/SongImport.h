#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "musicport/MidiFileReader.h"
#include "recorder/NoteEvent.h"
#include "recorder/SongFile.h"

// A song made from a Standard MIDI File: the note-ons and note-offs of one channel, replayed on
// channel 1 at their times from the start of the file.
//
// Times: each event's time in ms is computed exactly through the tempo map and rounded once;
// the delays are the differences of the rounded times, so rounding never adds up. Every note
// 0-127 keeps its number and velocity (a note-on of velocity 0 stays one; it releases like a
// note-off).
//
// Fillers: a delay holds at most 65,535 ms. A longer rest is bridged by a filler event every
// 65,535 ms: the note-off, velocity 0, of the lowest note not sounding then (note 0 unless the
// song holds it), which sounds nothing on any synthesizer. A song whose first note comes after
// the start of the file begins with one at 0, since the player never waits before its first
// event. Notes still sounding at the end of the file are released there (note-off, velocity 0,
// lowest note first), so a song never ends on a held note.

namespace recorder {

// The longest delay an event holds.
constexpr std::uint32_t kMaxEventDelayMs = 0xFFFF;
// The longest song an import makes (so that fillers stay a few thousand at most).
constexpr std::uint64_t kMaxImportedSongMs = 24ull * 60 * 60 * 1000;
// The largest MIDI file read (every event takes 2 bytes at least: at most 128 Mi events).
constexpr std::uint64_t kMaxMidiFileBytes = 256ull << 20;
constexpr int kDrumChannel = 10;

struct SongImportOptions {
    int channel = 0;                    // 1-16; 0: the lowest channel other than 10 with a note
    int track = 0;                      // 1-based; 0: every track
    int program = -1;                   // 0-127; -1: the channel's first program change, else 0
    std::optional<std::string> author;  // GBK bytes; none: the file's copyright notice
    std::optional<std::string> title;   // GBK bytes; none: the name of the file's first track
};

enum class SongImportStatus {
    Ok,
    CannotOpen,   // `error`: the errno of opening (a FIFO or device gives kNotARegularFile)
    FileError,    // `error`: the errno of reading
    TooLarge,     // a file of more than kMaxMidiFileBytes
    NotMidi,      // `midiStatus` says why
    NoSuchTrack,  // the option's track is beyond the file's
    NoNotes,      // no note-on (velocity above 0) on the channel in the tracks looked at
    TooLong,      // the song would last more than kMaxImportedSongMs
};

struct SongImportResult {
    SongImportStatus status = SongImportStatus::Ok;
    int error = 0;
    musicport::MidiFileStatus midiStatus = musicport::MidiFileStatus::Ok;
    bool Ok() const { return status == SongImportStatus::Ok; }
};

struct ImportedSong {
    // portFlags 0, which no output port has: opening the song keeps the port in use.
    SongFileHeader header;
    std::vector<NoteEvent> events;
    int channel = 0;  // 1-16, the channel taken
    std::size_t fillers = 0;
    std::uint64_t durationMs = 0;  // time of the last event
    std::uint64_t lastMs = 0;      // for TooLong: the time that was too late
    std::size_t tracks = 0;        // tracks of the file
    // Note-ons (velocity above 0) of each channel in the tracks looked at; [0] is channel 1.
    std::array<std::size_t, 16> notesByChannel{};
};

// Makes the song from a file already read. On failure the fields that explain it are set
// (tracks, notesByChannel, channel, lastMs) and `events` is empty.
SongImportResult ImportSong(const musicport::MidiFile& file, const SongImportOptions& options,
                            ImportedSong* song);

// Reads the file at `path` (a regular file only, never waiting on a FIFO) and makes the song.
SongImportResult ImportSong(const std::filesystem::path& path, const SongImportOptions& options,
                            ImportedSong* song);

// A text of a MIDI file, which names no code page, as GBK bytes for a song file: read as
// UTF-8 when it is valid UTF-8 (plain ASCII included), else as GBK when it is valid GBK, else
// as Latin-1; it ends at a NUL, other control characters become spaces, and spaces around it
// are dropped. Characters GBK cannot hold become '?'. Not cut to the song file's 49 bytes.
std::string MidiTextToGbk(std::string_view text);

}  // namespace recorder
