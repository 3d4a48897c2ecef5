#pragma once

// Standard MIDI Files for tests, built chunk by chunk.

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace tests::midi {

using Bytes = std::vector<std::uint8_t>;

inline void Be32(Bytes& out, std::uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(std::uint8_t(v >> shift));
}

inline Bytes VarLen(std::uint32_t value) {
    Bytes out{std::uint8_t(value & 0x7F)};
    while (value >>= 7)
        out.insert(out.begin(), std::uint8_t(0x80 | (value & 0x7F)));
    return out;
}

// Track body events: delta time then bytes.
inline Bytes Ev(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
    Bytes out = VarLen(delta);
    out.insert(out.end(), bytes);
    return out;
}
inline Bytes EndOfTrack(std::uint32_t delta = 0) {
    return Ev(delta, {0xFF, 0x2F, 0x00});
}
inline Bytes Tempo(std::uint32_t delta, std::uint32_t usPerQuarter) {
    return Ev(delta, {0xFF, 0x51, 0x03, std::uint8_t(usPerQuarter >> 16),
                      std::uint8_t(usPerQuarter >> 8), std::uint8_t(usPerQuarter)});
}

inline Bytes Chunk(const char (&id)[5], const Bytes& body, std::int64_t declared = -1) {
    Bytes out(id, id + 4);
    Be32(out, declared >= 0 ? std::uint32_t(declared) : std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

inline Bytes Track(std::initializer_list<Bytes> events) {
    Bytes body;
    for (const Bytes& e : events)
        body.insert(body.end(), e.begin(), e.end());
    return Chunk("MTrk", body);
}

inline Bytes Smf(std::uint16_t format, std::uint16_t division, std::initializer_list<Bytes> chunks,
                 int declaredTracks = -1) {
    int tracks = 0;
    for (const Bytes& c : chunks)
        tracks += c.size() >= 4 && c[0] == 'M' && c[1] == 'T' && c[2] == 'r' && c[3] == 'k';
    const auto count = std::uint16_t(declaredTracks >= 0 ? declaredTracks : tracks);
    Bytes out =
        Chunk("MThd", {std::uint8_t(format >> 8), std::uint8_t(format), std::uint8_t(count >> 8),
                       std::uint8_t(count), std::uint8_t(division >> 8), std::uint8_t(division)});
    for (const Bytes& c : chunks)
        out.insert(out.end(), c.begin(), c.end());
    return out;
}

// Two notes on channel 1 at 120 quarters a minute (480 ticks a quarter): note 69 from 0 to
// 0.3 s, note 81 from 0.4 s to 0.7 s.
inline Bytes TwoNotes() {
    return Smf(0, 480,
               {Track({Tempo(0, 500'000), Ev(0, {0x90, 69, 100}), Ev(288, {0x80, 69, 0}),
                       Ev(96, {0x90, 81, 100}), Ev(288, {0x80, 81, 0}), EndOfTrack(96)})});
}

}  // namespace tests::midi
