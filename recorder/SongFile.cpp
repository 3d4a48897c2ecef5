#include "recorder/SongFile.h"

#include <algorithm>
#include <cstring>

#include "platform/file/FileIo.h"

namespace recorder {
namespace {

constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kPortFlagsOffset = 4;
constexpr std::size_t kProgramOffset = 8;
constexpr std::size_t kAuthorOffset = 12;
constexpr std::size_t kTitleOffset = 112;
constexpr std::size_t kEventCountOffset = 212;
static_assert(kEventCountOffset + 4 == kSongHeaderSize);
static_assert(kTitleOffset + 2 * kSongTextUnits == kEventCountOffset);

void PutU16(std::byte* at, std::uint16_t value) {
    at[0] = std::byte(value & 0xFF);
    at[1] = std::byte(value >> 8);
}

void PutU32(std::byte* at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i)
        at[i] = std::byte((value >> (8 * i)) & 0xFF);
}

std::uint16_t GetU16(const std::byte* at) {
    return std::uint16_t(std::uint16_t(at[0]) | std::uint16_t(at[1]) << 8);
}

std::uint32_t GetU32(const std::byte* at) {
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i)
        value |= std::uint32_t(at[i]) << (8 * i);
    return value;
}

bool IsGbkLeadByte(unsigned char byte) {
    return byte >= 0x81 && byte <= 0xFE;
}

}  // namespace

SongText EncodeSongText(std::string_view bytes) {
    SongText units{};
    std::size_t length = 0;
    while (length < bytes.size() && bytes[length] != '\0') {
        const auto byte = static_cast<unsigned char>(bytes[length]);
        const std::size_t width = IsGbkLeadByte(byte) && length + 1 < bytes.size() ? 2 : 1;
        if (length + width > kSongTextMaxBytes)
            break;
        length += width;
    }
    for (std::size_t i = 0; i < length; ++i)
        units[i] = static_cast<unsigned char>(bytes[i]);
    return units;
}

std::string DecodeSongText(const SongText& units) {
    std::string bytes;
    for (const std::uint16_t unit : units) {
        if (unit == 0 || unit > 0xFF)
            break;
        bytes.push_back(char(unit));
    }
    return bytes;
}

std::array<std::byte, kSongHeaderSize> EncodeSongHeader(const SongFileHeader& header) {
    std::array<std::byte, kSongHeaderSize> bytes{};
    std::memcpy(bytes.data() + kMagicOffset, header.magic.data(), header.magic.size());
    PutU32(bytes.data() + kPortFlagsOffset, header.portFlags);
    PutU32(bytes.data() + kProgramOffset, header.program);
    for (std::size_t i = 0; i < kSongTextUnits; ++i) {
        PutU16(bytes.data() + kAuthorOffset + 2 * i, header.author[i]);
        PutU16(bytes.data() + kTitleOffset + 2 * i, header.title[i]);
    }
    PutU32(bytes.data() + kEventCountOffset, header.eventCount);
    return bytes;
}

SongFileHeader DecodeSongHeader(std::span<const std::byte, kSongHeaderSize> bytes) {
    SongFileHeader header;
    std::memcpy(header.magic.data(), bytes.data() + kMagicOffset, header.magic.size());
    header.portFlags = GetU32(bytes.data() + kPortFlagsOffset);
    header.program = GetU32(bytes.data() + kProgramOffset);
    for (std::size_t i = 0; i < kSongTextUnits; ++i) {
        header.author[i] = GetU16(bytes.data() + kAuthorOffset + 2 * i);
        header.title[i] = GetU16(bytes.data() + kTitleOffset + 2 * i);
    }
    header.eventCount = GetU32(bytes.data() + kEventCountOffset);
    return header;
}

bool HasSongMagic(const SongFileHeader& header) {
    const auto end = std::find(header.magic.begin(), header.magic.end(), '\0');
    return std::string_view(header.magic.data(), std::size_t(end - header.magic.begin())) == "TND";
}

SongFileResult ReadSongFile(const std::filesystem::path& path, std::uint32_t maxEvents,
                            LoadedSong* song) {
    platform::file::ReadOnlyFile file;
    if (const int error = file.Open(path); error != 0)
        return {SongFileStatus::CannotOpen, error};
    if (file.Size() <= kSongHeaderSize)
        return {SongFileStatus::TooShort, 0};

    std::array<std::byte, kSongHeaderSize> headerBytes{};
    std::size_t read = 0;
    if (const int error = file.ReadAt(0, headerBytes, &read); error != 0)
        return {SongFileStatus::FileError, error};
    if (read < kSongHeaderSize)  // the file shrank since it was opened
        return {SongFileStatus::TooShort, 0};
    const SongFileHeader header = DecodeSongHeader(headerBytes);
    if (!HasSongMagic(header))
        return {SongFileStatus::BadMagic, 0};

    // Only whole events that are really there; the count may claim more.
    const std::uint64_t present = (file.Size() - kSongHeaderSize) / sizeof(NoteEvent);
    const std::uint64_t wanted =
        std::min<std::uint64_t>({header.eventCount, present, std::uint64_t(maxEvents)});
    std::vector<std::byte> eventBytes(std::size_t(wanted) * sizeof(NoteEvent));
    if (const int error = file.ReadAt(kSongHeaderSize, eventBytes, &read); error != 0)
        return {SongFileStatus::FileError, error};
    std::vector<NoteEvent> events(read / sizeof(NoteEvent));
    for (std::size_t i = 0; i < events.size(); ++i)
        events[i] = GetU32(eventBytes.data() + i * sizeof(NoteEvent));

    song->header = header;
    song->events = std::move(events);
    return {};
}

SongFileResult WriteSongFile(const std::filesystem::path& path, const SongFileHeader& header,
                             std::span<const NoteEvent> events) {
    SongFileHeader written = header;
    written.magic = {'T', 'N', 'D', '\0'};
    written.eventCount = std::uint32_t(events.size());
    const auto headerBytes = EncodeSongHeader(written);
    std::vector<std::byte> eventBytes(events.size() * sizeof(NoteEvent));
    for (std::size_t i = 0; i < events.size(); ++i)
        PutU32(eventBytes.data() + i * sizeof(NoteEvent), events[i]);
    const std::array<std::span<const std::byte>, 2> chunks{std::span<const std::byte>(headerBytes),
                                                           std::span<const std::byte>(eventBytes)};
    if (const int error = platform::file::WriteFileReplacing(path, chunks); error != 0)
        return {SongFileStatus::FileError, error};
    return {};
}

SongFileResult RewriteSongTexts(const std::filesystem::path& path, std::string_view author,
                                std::string_view title) {
    LoadedSong song;
    // Validates the file (nothing is allocated for events: at most 0 are read).
    if (const SongFileResult result = ReadSongFile(path, 0, &song); !result.Ok())
        return result;
    platform::file::ReadOnlyFile file;
    if (const int error = file.Open(path); error != 0)
        return {SongFileStatus::CannotOpen, error};
    std::vector<std::byte> bytes(std::size_t(file.Size()));
    std::size_t read = 0;
    if (const int error = file.ReadAt(0, bytes, &read); error != 0)
        return {SongFileStatus::FileError, error};
    if (read <= kSongHeaderSize)
        return {SongFileStatus::TooShort, 0};
    bytes.resize(read);

    SongFileHeader header = song.header;
    header.author = EncodeSongText(author);
    header.title = EncodeSongText(title);
    const auto encoded = EncodeSongHeader(header);
    std::copy(encoded.begin() + kAuthorOffset, encoded.begin() + kEventCountOffset,
              bytes.begin() + kAuthorOffset);
    const std::array<std::span<const std::byte>, 1> chunks{std::span<const std::byte>(bytes)};
    if (const int error = platform::file::WriteFileReplacing(path, chunks); error != 0)
        return {SongFileStatus::FileError, error};
    return {};
}

std::string SongFileMessage(const SongFileResult& result, const std::filesystem::path& path) {
    switch (result.status) {
        case SongFileStatus::Ok:
            return {};
        case SongFileStatus::CannotOpen:
            return "File not found!";
        case SongFileStatus::TooShort:
            return "Invalid File!";
        case SongFileStatus::BadMagic:
            return "Invalid Tunestead file!";
        case SongFileStatus::FileError:
            return platform::file::FileErrorReport(result.error, path);
    }
    return {};
}

}  // namespace recorder
