#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "recorder/NoteEvent.h"

// The song file (.tnd), all integers little-endian:
//   0   magic       'T' 'N' 'D' 0
//   4   portFlags   u32, capability flags of the output port in use
//   8   program     u32, 1-based instrument number
//   12  author      50 units of 16 bits: one text byte per unit, then a zero unit
//   112 title       the same
//   212 eventCount  u32
//   216 events      eventCount × u32 NoteEvent
// Nothing follows the events; no version, no checksum.

namespace recorder {

constexpr std::size_t kSongHeaderSize = 216;
constexpr std::size_t kSongTextUnits = 50;
// Bytes of text that fit before the ending zero unit.
constexpr std::size_t kSongTextMaxBytes = kSongTextUnits - 1;
constexpr std::string_view kSongFileExtension = "tnd";

using SongText = std::array<std::uint16_t, kSongTextUnits>;

struct SongFileHeader {
    std::array<char, 4> magic{'T', 'N', 'D', '\0'};
    std::uint32_t portFlags = 0;
    std::uint32_t program = 0;
    SongText author{};
    SongText title{};
    std::uint32_t eventCount = 0;
};

// Text bytes (in the file's code page) to units: one unit per byte, at most 49 bytes (a
// double-byte character that would be cut in half is left out), zero units after.
SongText EncodeSongText(std::string_view bytes);
// Units back to bytes: stops at the zero unit, before the first unit above 255, or after 50.
std::string DecodeSongText(const SongText& units);

std::array<std::byte, kSongHeaderSize> EncodeSongHeader(const SongFileHeader& header);
SongFileHeader DecodeSongHeader(std::span<const std::byte, kSongHeaderSize> bytes);
// The magic compared as a zero-ended text with "TND".
bool HasSongMagic(const SongFileHeader& header);

enum class SongFileStatus {
    Ok,
    CannotOpen,  // "File not found!"
    TooShort,    // 216 bytes or less: "Invalid File!"
    BadMagic,    // "Invalid Tunestead file!"
    FileError,   // a read or write error: the file layer's report of `error`
};

struct SongFileResult {
    SongFileStatus status = SongFileStatus::Ok;
    int error = 0;  // errno of CannotOpen and FileError
    bool Ok() const { return status == SongFileStatus::Ok; }
};

struct LoadedSong {
    SongFileHeader header;
    // The events present: at most eventCount and `maxEvents`, and only whole events of the
    // bytes that follow the header.
    std::vector<NoteEvent> events;
};

// Reads and checks a whole song file. Nothing is allocated for events the file does not hold.
SongFileResult ReadSongFile(const std::filesystem::path& path, std::uint32_t maxEvents,
                            LoadedSong* song);

// Writes the header (magic "TND", eventCount the number of `events`) and `events` as one file that
// replaces `path` only once it is complete.
SongFileResult WriteSongFile(const std::filesystem::path& path, const SongFileHeader& header,
                             std::span<const NoteEvent> events);

// Replaces the author and title (text bytes in the file's code page, at most 49 each) of a
// valid song file; every other byte stays as it was. The file is replaced only once the new
// one is complete.
SongFileResult RewriteSongTexts(const std::filesystem::path& path, std::string_view author,
                                std::string_view title);

// The message the user sees for a failed result (UTF-8).
std::string SongFileMessage(const SongFileResult& result, const std::filesystem::path& path);

}  // namespace recorder
