// Fuzz target: the song tool's import path over arbitrary bytes. Every input is written to an
// in-memory file and imported through the real path-based import with a few sets of options,
// and every song made must keep the import's promises: delays that add up to its length, at
// most a day long, fillers that sound nothing, no note held at the end, texts that fit, and
// the same events again after an export to a MIDI file and an import of it.

#include <sys/mman.h>
#include <unistd.h>

#include <bitset>
#include <cstdlib>
#include <string>

#include "musicport/MidiFileReader.h"
#include "recorder/SongExport.h"
#include "recorder/SongImport.h"
#include "tests/fuzz/FuzzMain.h"
#include "tests/musicport/MidiFixtures.h"

namespace {

using namespace recorder;

int MemoryFile() {
    static const int fd = ::memfd_create("midi", 0);
    return fd;
}

void Check(bool holds) {
    if (!holds)
        std::abort();
}

void CheckSong(const ImportedSong& song, std::size_t inputSize) {
    Check(!song.events.empty());
    // Each event of the file takes two bytes at least; the import adds fillers (one per
    // 65,535 ms of a day at most, and one at 0) and a release for each note.
    Check(song.events.size() <= inputSize / 2 + kMaxImportedSongMs / kMaxEventDelayMs + 1 + 128);
    Check(DelayOf(song.events.front()) == 0);
    const std::vector<TimedMessage> timeline = SongTimeline(song.events);
    Check(timeline.back().timeMs == song.durationMs);
    Check(song.durationMs <= kMaxImportedSongMs);
    Check(song.header.program >= 1 && song.header.program <= 128);
    Check(DecodeSongText(song.header.author).size() <= kSongTextMaxBytes);
    Check(DecodeSongText(song.header.title).size() <= kSongTextMaxBytes);

    std::bitset<128> sounding;
    std::size_t silentReleases = 0;
    for (const NoteEvent e : song.events) {
        const std::uint16_t code = NoteCodeOf(e);
        Check((code & 0x80) == 0);  // a MIDI note number
        if ((code & 0xFF00) == 0 && !sounding[code & 0x7F])
            ++silentReleases;
        sounding[code & 0x7F] = (code & kNoteOnBit) != 0 && (code & 0x7F00) != 0;
    }
    Check(sounding.none());
    Check(silentReleases >= song.fillers);

    musicport::MidiFile exported;
    Check(musicport::ReadMidiFile(ToStandardMidiFile(song.events, song.header.program), exported) ==
          musicport::MidiFileStatus::Ok);
    ImportedSong again;
    Check(ImportSong(exported, {}, &again).Ok());
    Check(again.events == song.events);
    Check(again.header.program == song.header.program);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const int fd = MemoryFile();
    if (fd < 0 || ::ftruncate(fd, 0) != 0 || ::pwrite(fd, data, size, 0) != ssize_t(size))
        return 0;
    const std::string path = "/proc/self/fd/" + std::to_string(fd);

    SongImportOptions options[3];
    options[1].channel = 10;
    options[2].track = 2;
    options[2].program = 3;
    for (const SongImportOptions& o : options) {
        ImportedSong song;
        const SongImportResult result = ImportSong(path, o, &song);
        if (result.Ok())
            CheckSong(song, size);
        else
            Check(song.events.empty());
    }
    return 0;
}

namespace tests::fuzz {

std::vector<std::vector<std::uint8_t>> Seeds() {
    using namespace tests::midi;
    return {
        TwoNotes(),
        // Two tracks, tempo changes, drums, running status, system exclusive, a long rest, a
        // note held at the end.
        Smf(1, 96,
            {Track({Ev(0, {0xFF, 0x02, 0x02, 'M', 'e'}), Ev(0, {0xFF, 0x03, 0x01, 'T'}),
                    Tempo(0, 600'000), Tempo(96, 300'000), EndOfTrack()}),
             Track({Ev(0, {0xC1, 7}), Ev(0, {0x91, 60, 90}), Ev(48, {62, 90}),
                    Ev(0, {0xF0, 0x02, 0x7E, 0xF7}), Ev(48, {0x81, 60, 0}), Ev(0, {0x99, 36, 100}),
                    Ev(30000, {0x91, 64, 1}), EndOfTrack(96)})}),
        // SMPTE timing (29.97 frames a second).
        Smf(0, 0xE304, {Track({Ev(0, {0x90, 60, 100}), Ev(40, {0x80, 60, 0}), EndOfTrack()})}),
    };
}

}  // namespace tests::fuzz
