// libFuzzer target for the song-file reader: every input is written to an in-memory file and
// read through the real path-based reader, then the texts go through the code-page decoding.
// A result that breaks the reader's promises traps.

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/text/CodePage.h"
#include "recorder/SongFile.h"

namespace {

int MemoryFile() {
    static const int fd = ::memfd_create("song", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = MemoryFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    recorder::LoadedSong song;
    const recorder::SongFileResult result = recorder::ReadSongFile(path, 0x3FFFFFFF, &song);
    if (size <= recorder::kSongHeaderSize) {
        if (result.status != recorder::SongFileStatus::TooShort)
            __builtin_trap();
        return 0;
    }
    if (!result.Ok())
        return 0;
    const std::size_t present = (size - recorder::kSongHeaderSize) / 4;
    if (song.events.size() != std::min<std::size_t>(song.header.eventCount, present))
        __builtin_trap();
    const std::string author = recorder::DecodeSongText(song.header.author);
    const std::string title = recorder::DecodeSongText(song.header.title);
    if (author.size() > 50 || title.size() > 50)
        __builtin_trap();
    // Decoding back and forth never grows a text past what the file can hold.
    const recorder::SongText again =
        recorder::EncodeSongText(platform::text::Utf8ToGbk(platform::text::GbkToUtf8(author)));
    if (recorder::DecodeSongText(again).size() > recorder::kSongTextMaxBytes)
        __builtin_trap();
    return 0;
}
