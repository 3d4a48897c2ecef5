#include "recorder/SongExport.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace recorder {
namespace {

void PutBigEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void PutLittleEndian(std::vector<std::uint8_t>& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void PutText(std::vector<std::uint8_t>& out, std::string_view text) {
    out.insert(out.end(), text.begin(), text.end());
}

// A MIDI variable-length quantity: 7 bits a byte, most significant first.
void PutVariableLength(std::vector<std::uint8_t>& out, std::uint32_t value) {
    std::uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = std::uint8_t(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 0) {
        --n;
        out.push_back(std::uint8_t(bytes[n] | (n > 0 ? 0x80 : 0)));
    }
}

}  // namespace

std::vector<TimedMessage> SongTimeline(std::span<const NoteEvent> events) {
    std::vector<TimedMessage> timeline;
    timeline.reserve(events.size());
    std::uint64_t time = 0;
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (i > 0)
            time += DelayOf(events[i]);
        timeline.push_back({time, DecodeNoteCode(NoteCodeOf(events[i]))});
    }
    return timeline;
}

SongSummary Summarise(std::span<const NoteEvent> events) {
    SongSummary summary;
    for (const TimedMessage& m : SongTimeline(events)) {
        summary.durationMs = m.timeMs;
        if ((m.msg & 0xF0) == 0x90 && ((m.msg >> 16) & 0xFF) > 0) {
            summary.notesUsed.insert(std::uint8_t(m.msg >> 8));
            ++summary.noteOns;
        }
    }
    return summary;
}

std::vector<std::uint8_t> ToStandardMidiFile(std::span<const NoteEvent> events,
                                             std::uint32_t program) {
    std::vector<std::uint8_t> track;
    PutVariableLength(track, 0);
    PutText(track, "\xFF\x51\x03");  // tempo: 1,000,000 us per quarter note
    PutBigEndian(track, 1000000, 3);
    if (program >= 1 && program <= 128) {
        PutVariableLength(track, 0);
        track.push_back(0xC0);
        track.push_back(std::uint8_t(program - 1));
    }
    for (std::size_t i = 0; i < events.size(); ++i) {
        PutVariableLength(track, i == 0 ? 0 : DelayOf(events[i]));
        const std::uint32_t msg = DecodeNoteCode(NoteCodeOf(events[i]));
        track.push_back(std::uint8_t(msg));
        track.push_back(std::uint8_t(msg >> 8));
        track.push_back(std::uint8_t(msg >> 16));
    }
    PutVariableLength(track, 0);
    PutText(track, std::string_view("\xFF\x2F\x00", 3));  // end of track

    std::vector<std::uint8_t> file;
    PutText(file, "MThd");
    PutBigEndian(file, 6, 4);
    PutBigEndian(file, 0, 2);     // format 0
    PutBigEndian(file, 1, 2);     // one track
    PutBigEndian(file, 1000, 2);  // ticks per quarter note
    PutText(file, "MTrk");
    PutBigEndian(file, std::uint32_t(track.size()), 4);
    file.insert(file.end(), track.begin(), track.end());
    return file;
}

std::uint64_t RenderedFrames(std::span<const TimedMessage> timeline, int sampleRate,
                             std::uint64_t tailFrames) {
    const std::uint64_t last = timeline.empty() ? 0 : FrameAt(timeline.back().timeMs, sampleRate);
    return last + tailFrames;
}

std::array<std::uint8_t, kWavHeaderBytes> WavHeader(std::uint64_t frames, int sampleRate) {
    const auto dataBytes = std::uint32_t(std::min(frames, kWavMaxFrames) * kWavBytesPerFrame);
    const auto rate = std::uint32_t(sampleRate);
    std::vector<std::uint8_t> header;
    PutText(header, "RIFF");
    PutLittleEndian(header, 36 + dataBytes, 4);
    PutText(header, "WAVEfmt ");
    PutLittleEndian(header, 16, 4);
    PutLittleEndian(header, 1, 2);  // PCM
    PutLittleEndian(header, 2, 2);  // stereo
    PutLittleEndian(header, rate, 4);
    PutLittleEndian(header, rate * std::uint32_t(kWavBytesPerFrame), 4);  // bytes a second
    PutLittleEndian(header, std::uint32_t(kWavBytesPerFrame), 2);         // bytes a frame
    PutLittleEndian(header, 16, 2);                                       // bits a sample
    PutText(header, "data");
    PutLittleEndian(header, dataBytes, 4);
    std::array<std::uint8_t, kWavHeaderBytes> bytes{};
    std::copy(header.begin(), header.end(), bytes.begin());
    return bytes;
}

void AppendWavSamples(std::span<const float> stereo, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + 2 * stereo.size());
    for (const float sample : stereo) {
        const float clipped = std::clamp(sample, -1.0f, 1.0f);
        PutLittleEndian(out, std::uint32_t(std::int16_t(std::lround(clipped * 32767.0f))), 2);
    }
}

}  // namespace recorder
