#include "recorder/SongImport.h"

#include <algorithm>
#include <bitset>
#include <span>

#include "musicport/MidiFileClock.h"
#include "platform/file/FileIo.h"
#include "platform/text/CodePage.h"
#include "recorder/CNoteRecorder.h"

namespace recorder {
namespace {

using musicport::MidiFile;
using musicport::MidiFileEvent;

// The most events an import adds to those of the file: fillers over the longest song, the
// leading one, and a release for each note.
constexpr std::uint64_t kMaxAddedEvents = kMaxImportedSongMs / kMaxEventDelayMs + 1 + 128;
static_assert(kMaxMidiFileBytes / 2 + kMaxAddedEvents <= CNoteRecorder::kMaxEvents);

bool IsNoteOn(const MidiFileEvent& e) {
    return (e.bytes[0] & 0xF0) == 0x90 && e.bytes[2] > 0;
}

// Appends events at their rounded times, bridging long rests with fillers and keeping track of
// the notes sounding.
class SongBuilder {
public:
    explicit SongBuilder(std::vector<NoteEvent>& events) : m_events(events) {}

    // False (and nothing added) when `atMs` is beyond the longest song.
    bool Add(std::uint64_t atMs, std::uint32_t msg) {
        if (atMs > kMaxImportedSongMs)
            return false;
        if (m_events.empty() && atMs > 0)
            AddFiller(0);
        while (atMs - m_lastMs > kMaxEventDelayMs)
            AddFiller(kMaxEventDelayMs);
        Append(EncodeNoteCode(msg), atMs - m_lastMs);
        m_lastMs = atMs;
        return true;
    }

    // Note-offs of the notes sounding, lowest first, at `atMs` (not before the last event).
    bool ReleaseAll(std::uint64_t atMs) {
        for (int note = 0; note < 128; ++note) {
            if (m_sounding[std::size_t(note)] &&
                !Add(std::max(atMs, m_lastMs), 0x80u | std::uint32_t(note) << 8))
                return false;
        }
        return true;
    }

    std::size_t Fillers() const { return m_fillers; }
    std::uint64_t LastMs() const { return m_lastMs; }

private:
    void AddFiller(std::uint32_t delay) {
        // A note not sounding; only if all 128 sound at once does the filler end note 0.
        std::size_t note = 0;
        while (note < m_sounding.size() && m_sounding[note])
            ++note;
        Append(std::uint16_t(note % m_sounding.size()), delay);
        m_lastMs += delay;
        ++m_fillers;
    }

    void Append(std::uint16_t code, std::uint64_t delay) {
        m_events.push_back(MakeNoteEvent(code, std::uint32_t(delay)));
        const std::size_t note = code & 0x7F;
        m_sounding[note] = (code & kNoteOnBit) != 0 && (code & 0x7F00) != 0;
    }

    std::vector<NoteEvent>& m_events;
    std::bitset<128> m_sounding;
    std::uint64_t m_lastMs = 0;
    std::size_t m_fillers = 0;
};

bool IsUtf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::size_t length = 0;
        std::uint32_t code = 0;
        if (b < 0x80) {
            ++i;
            continue;
        }
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
            code = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            code = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            code = b & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length)
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(text[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            code = code << 6 | (c & 0x3F);
        }
        // Overlong forms, surrogates and code points beyond U+10FFFF.
        if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) ||
            (code >= 0xD800 && code <= 0xDFFF) || code > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

bool IsGbk(std::string_view text) {
    // GBK has no U+FFFD: the conversion puts one for every byte that is not GBK.
    return platform::text::GbkToUtf8(text).find("\xEF\xBF\xBD") == std::string::npos;
}

std::string Latin1ToUtf8(std::string_view text) {
    std::string utf8;
    for (const char c : text) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x80) {
            utf8 += c;
        } else {
            utf8 += char(0xC0 | b >> 6);
            utf8 += char(0x80 | (b & 0x3F));
        }
    }
    return utf8;
}

}  // namespace

std::string MidiTextToGbk(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::string cleaned(text);
    // Control characters are ASCII in all three readings (GBK trail bytes are 0x40 or above).
    for (char& c : cleaned) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    }
    const std::size_t first = cleaned.find_first_not_of(' ');
    if (first == std::string::npos)
        return {};
    cleaned = cleaned.substr(first, cleaned.find_last_not_of(' ') - first + 1);
    if (IsUtf8(cleaned))
        return platform::text::Utf8ToGbk(cleaned);
    if (IsGbk(cleaned))
        return cleaned;
    return platform::text::Utf8ToGbk(Latin1ToUtf8(cleaned));
}

SongImportResult ImportSong(const MidiFile& file, const SongImportOptions& options,
                            ImportedSong* song) {
    ImportedSong out;
    out.tracks = file.trackNames.size();
    if (options.track < 0 || std::size_t(options.track) > out.tracks) {
        *song = std::move(out);
        return {SongImportStatus::NoSuchTrack};
    }
    const auto inTracks = [&](const MidiFileEvent& e) {
        return options.track == 0 || e.track == options.track - 1;
    };
    for (const MidiFileEvent& e : file.events) {
        if (inTracks(e) && IsNoteOn(e))
            ++out.notesByChannel[e.bytes[0] & 0x0F];
    }
    out.channel = options.channel;
    for (int c = 1; out.channel == 0 && c <= 16; ++c) {
        if (c != kDrumChannel && out.notesByChannel[std::size_t(c - 1)] > 0)
            out.channel = c;
    }
    if (out.channel < 1 || out.channel > 16 ||
        out.notesByChannel[std::size_t(out.channel - 1)] == 0) {
        *song = std::move(out);
        return {SongImportStatus::NoNotes};
    }
    const auto channelBits = std::uint8_t(out.channel - 1);

    // The channel's program in every track: a program change applies to the channel wherever
    // it stands.
    int program = options.program;
    for (std::size_t i = 0; program < 0 && i < file.events.size(); ++i) {
        if (file.events[i].bytes[0] == (0xC0 | channelBits))
            program = file.events[i].bytes[1];
    }
    out.header.program = std::uint32_t(program < 0 ? 0 : program) + 1;
    out.header.author =
        EncodeSongText(options.author ? *options.author : MidiTextToGbk(file.copyright));
    out.header.title = EncodeSongText(
        options.title ? *options.title
                      : MidiTextToGbk(file.trackNames.empty() ? "" : file.trackNames.front()));

    const musicport::MidiFileClock clock(file);
    SongBuilder builder(out.events);
    const auto tooLong = [&](std::uint64_t atMs) {
        out.events.clear();
        out.lastMs = atMs;
        *song = std::move(out);
        return SongImportResult{SongImportStatus::TooLong};
    };
    for (const MidiFileEvent& e : file.events) {
        const std::uint8_t command = e.bytes[0] & 0xF0;
        if ((e.bytes[0] & 0x0F) != channelBits || (command != 0x80 && command != 0x90) ||
            !inTracks(e))
            continue;
        const std::uint64_t at = clock.RoundedMs(e.tick);
        if (!builder.Add(
                at, command | std::uint32_t(e.bytes[1]) << 8 | std::uint32_t(e.bytes[2]) << 16))
            return tooLong(at);
    }
    const std::uint64_t end = clock.RoundedMs(file.lengthTicks);
    if (!builder.ReleaseAll(end))
        return tooLong(end);
    out.fillers = builder.Fillers();
    out.durationMs = builder.LastMs();
    *song = std::move(out);
    return {};
}

SongImportResult ImportSong(const std::filesystem::path& path, const SongImportOptions& options,
                            ImportedSong* song) {
    *song = ImportedSong{};
    platform::file::ReadOnlyFile input;
    if (const int error = input.Open(path); error != 0)
        return {SongImportStatus::CannotOpen, error};
    if (input.Size() > kMaxMidiFileBytes)
        return {SongImportStatus::TooLarge};
    std::vector<std::uint8_t> bytes(std::size_t(input.Size()));
    std::size_t read = 0;
    if (const int error = input.ReadAt(0, std::as_writable_bytes(std::span(bytes)), &read);
        error != 0)
        return {SongImportStatus::FileError, error};
    bytes.resize(read);
    MidiFile file;
    if (const auto status = musicport::ReadMidiFile(bytes, file);
        status != musicport::MidiFileStatus::Ok)
        return {SongImportStatus::NotMidi, 0, status};
    bytes = {};  // the events are in `file` now
    return ImportSong(file, options, song);
}

}  // namespace recorder
