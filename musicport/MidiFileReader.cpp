#include "musicport/MidiFileReader.h"

#include <algorithm>
#include <cstring>

namespace musicport {
namespace {

constexpr std::uint64_t kMaxTick = 0x7FFFFFFF;

std::uint32_t Be32(const std::uint8_t* p) {
    return std::uint32_t(p[0]) << 24 | std::uint32_t(p[1]) << 16 | std::uint32_t(p[2]) << 8 | p[3];
}
std::uint16_t Be16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

// Reads the events of one track body.
class TrackReader {
public:
    TrackReader(std::span<const std::uint8_t> body, std::uint16_t track, MidiFile& file)
        : body_(body), track_(track), file_(file) {}

    MidiFileStatus Read() {
        std::uint64_t tick = 0;
        std::uint8_t status = 0;  // running status; none at the start of every track
        while (pos_ < body_.size()) {
            std::uint32_t delta = 0;
            if (auto s = VarLen(delta); s != MidiFileStatus::Ok)
                return s;
            tick += delta;
            if (tick > kMaxTick)
                return MidiFileStatus::TooLong;
            if (pos_ >= body_.size())
                return MidiFileStatus::Truncated;
            std::uint8_t first = body_[pos_];
            if (first >= 0x80) {
                ++pos_;
                if (first == 0xFF) {
                    status = 0;  // meta events cancel running status
                    bool end = false;
                    if (auto s = Meta(std::uint32_t(tick), end); s != MidiFileStatus::Ok)
                        return s;
                    if (end)
                        break;
                    continue;
                }
                if (first == 0xF0 || first == 0xF7) {
                    status = 0;
                    std::uint32_t length = 0;
                    if (auto s = VarLen(length); s != MidiFileStatus::Ok)
                        return s;
                    if (length > body_.size() - pos_)
                        return MidiFileStatus::Truncated;
                    pos_ += length;
                    continue;
                }
                if (first > 0xF0)
                    return MidiFileStatus::BadEvent;  // real-time and common messages
                status = first;
            } else if (status == 0) {
                return MidiFileStatus::NoRunningStatus;
            }
            const std::uint8_t command = status & 0xF0;
            const std::size_t dataBytes = (command == 0xC0 || command == 0xD0) ? 1 : 2;
            if (dataBytes > body_.size() - pos_)
                return MidiFileStatus::Truncated;
            MidiFileEvent event;
            event.tick = std::uint32_t(tick);
            event.track = track_;
            event.length = std::uint8_t(1 + dataBytes);
            event.bytes[0] = status;
            for (std::size_t i = 0; i < dataBytes; ++i) {
                const std::uint8_t data = body_[pos_++];
                if (data >= 0x80)
                    return MidiFileStatus::BadEvent;
                event.bytes[1 + i] = data;
            }
            file_.events.push_back(event);
        }
        end_ = std::uint32_t(tick);
        return MidiFileStatus::Ok;
    }

    std::uint32_t EndTick() const { return end_; }

private:
    // A variable-length number of at most 4 bytes.
    MidiFileStatus VarLen(std::uint32_t& value) {
        value = 0;
        for (int i = 0; i < 4; ++i) {
            if (pos_ >= body_.size())
                return MidiFileStatus::Truncated;
            const std::uint8_t byte = body_[pos_++];
            value = value << 7 | (byte & 0x7F);
            if ((byte & 0x80) == 0)
                return MidiFileStatus::Ok;
        }
        return MidiFileStatus::BadEvent;
    }

    MidiFileStatus Meta(std::uint32_t tick, bool& end) {
        if (pos_ >= body_.size())
            return MidiFileStatus::Truncated;
        const std::uint8_t type = body_[pos_++];
        std::uint32_t length = 0;
        if (auto s = VarLen(length); s != MidiFileStatus::Ok)
            return s;
        if (length > body_.size() - pos_)
            return MidiFileStatus::Truncated;
        const std::uint8_t* data = body_.data() + pos_;
        pos_ += length;
        if (type == 0x2F) {
            end = true;
        } else if (type == 0x02 || type == 0x03) {
            std::string& text = type == 0x02 ? file_.copyright : file_.trackNames[track_];
            if (text.empty())
                text.assign(reinterpret_cast<const char*>(data), length);
        } else if (type == 0x51) {
            if (length != 3)
                return MidiFileStatus::BadEvent;
            const std::uint32_t tempo = std::uint32_t(data[0]) << 16 | data[1] << 8 | data[2];
            if (tempo == 0)
                return MidiFileStatus::BadEvent;
            file_.tempos.push_back({tick, tempo});
        }
        return MidiFileStatus::Ok;
    }

    std::span<const std::uint8_t> body_;
    std::uint16_t track_;
    MidiFile& file_;
    std::size_t pos_ = 0;
    std::uint32_t end_ = 0;
};

MidiFileStatus Read(std::span<const std::uint8_t> bytes, MidiFile& file) {
    if (bytes.size() < 14 || std::memcmp(bytes.data(), "MThd", 4) != 0)
        return MidiFileStatus::NotMidi;
    const std::uint32_t headerLength = Be32(bytes.data() + 4);
    if (headerLength < 6)
        return MidiFileStatus::NotMidi;
    if (headerLength > bytes.size() - 8)
        return MidiFileStatus::BadTrackLength;
    file.format = Be16(bytes.data() + 8);
    file.tracks = Be16(bytes.data() + 10);
    const std::uint16_t division = Be16(bytes.data() + 12);
    if (file.format > 1)
        return MidiFileStatus::UnsupportedFormat;
    if (division & 0x8000) {
        file.framesPerSecond = std::uint8_t(-static_cast<std::int8_t>(division >> 8));
        file.ticksPerFrame = std::uint8_t(division & 0xFF);
        if (file.framesPerSecond == 0 || file.ticksPerFrame == 0)
            return MidiFileStatus::UnsupportedFormat;
    } else {
        file.ticksPerQuarter = division;
        if (division == 0)
            return MidiFileStatus::UnsupportedFormat;
    }

    std::size_t pos = 8 + std::size_t{headerLength};
    std::uint16_t found = 0;
    while (found < file.tracks) {
        if (bytes.size() - pos < 8)
            return MidiFileStatus::Truncated;
        const std::uint32_t length = Be32(bytes.data() + pos + 4);
        if (length > bytes.size() - pos - 8)
            return MidiFileStatus::BadTrackLength;
        const auto body = bytes.subspan(pos + 8, length);
        if (std::memcmp(bytes.data() + pos, "MTrk", 4) == 0) {
            file.trackNames.emplace_back();
            TrackReader track(body, found, file);
            if (auto s = track.Read(); s != MidiFileStatus::Ok)
                return s;
            file.lengthTicks = std::max(file.lengthTicks, track.EndTick());
            ++found;
        }
        pos += 8 + std::size_t{length};  // other chunks are skipped
    }
    // Tracks were read one after another; merge them by tick, keeping each track's order.
    std::stable_sort(
        file.events.begin(), file.events.end(),
        [](const MidiFileEvent& a, const MidiFileEvent& b) { return a.tick < b.tick; });
    std::stable_sort(
        file.tempos.begin(), file.tempos.end(),
        [](const MidiFileTempo& a, const MidiFileTempo& b) { return a.tick < b.tick; });
    return MidiFileStatus::Ok;
}

}  // namespace

MidiFileStatus ReadMidiFile(std::span<const std::uint8_t> bytes, MidiFile& file) {
    file = MidiFile{};
    const MidiFileStatus status = Read(bytes, file);
    if (status != MidiFileStatus::Ok)
        file = MidiFile{};
    return status;
}

std::string_view MidiFileStatusText(MidiFileStatus status) {
    switch (status) {
        case MidiFileStatus::Ok:
            return {};
        case MidiFileStatus::NotMidi:
            return "no MThd header";
        case MidiFileStatus::UnsupportedFormat:
            return "format 2 or a time division of 0";
        case MidiFileStatus::Truncated:
            return "the file or a track ends inside an event";
        case MidiFileStatus::BadTrackLength:
            return "a chunk claims more bytes than the file has";
        case MidiFileStatus::NoRunningStatus:
            return "data bytes without a status byte";
        case MidiFileStatus::BadEvent:
            return "a malformed event";
        case MidiFileStatus::TooLong:
            return "more than 2^31 ticks";
    }
    return "unknown error";
}

}  // namespace musicport
