#pragma once

#include <cstdint>

// One recorded event: a 16-bit note code in the low half and the delay since the previous
// event, in milliseconds, in the high half. Stored little-endian wherever it is stored.
//
// Note code: bits 0-7 the note number, bits 8-14 the low 7 bits of the velocity, bit 15 set
// for a note-on (of any velocity, 0 included). The channel is not kept.

namespace recorder {

using NoteEvent = std::uint32_t;

constexpr std::uint16_t kNoteOnBit = 0x8000;

// Note code of the short message `msg` (status in bits 0-7, data 1 in 8-15, data 2 in 16-23).
constexpr std::uint16_t EncodeNoteCode(std::uint32_t msg) {
    if ((msg & 0xF0u) == 0x90u) {
        const std::uint32_t data1 = (msg >> 8) & 0xFFu;
        const std::uint32_t data2 = (msg >> 16) & 0xFFu;
        return std::uint16_t(data1 | ((data2 | 0x80u) << 8));
    }
    return std::uint16_t((msg >> 8) & 0x7FFFu);
}

// The short message an event code replays, always on channel 1 (status low nibble 0).
constexpr std::uint32_t DecodeNoteCode(std::uint16_t code) {
    return (std::uint32_t(code & 0x7FFFu) << 8) | ((code & kNoteOnBit) != 0 ? 0x90u : 0x80u);
}

constexpr NoteEvent MakeNoteEvent(std::uint16_t code, std::uint32_t delayMs) {
    return NoteEvent(code) | (NoteEvent(delayMs & 0xFFFFu) << 16);
}

constexpr std::uint16_t NoteCodeOf(NoteEvent event) {
    return std::uint16_t(event & 0xFFFFu);
}

constexpr std::uint16_t DelayOf(NoteEvent event) {
    return std::uint16_t(event >> 16);
}

}  // namespace recorder
