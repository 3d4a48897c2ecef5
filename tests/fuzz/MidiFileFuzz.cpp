// Fuzz target: the Standard MIDI File reader and its conversion into a segment's
// schedule, over arbitrary bytes.

#include <cstdlib>

#include "musicport/MidiFileReader.h"
#include "musicport/SegmentData.h"
#include "tests/fuzz/FuzzMain.h"
#include "tests/musicport/MidiFixtures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    musicport::MidiFile file;
    if (musicport::ReadMidiFile({data, size}, file) != musicport::MidiFileStatus::Ok)
        return 0;
    // Every event takes at least two bytes of the file (data bytes after a running status).
    if (file.events.size() > size / 2)
        std::abort();
    const auto segment = musicport::SegmentData::FromMidiFile(file);
    const auto messages = segment.Schedule(10'000);
    if (messages.size() > file.events.size())
        std::abort();
    for (const auto& m : messages)
        if (m.offset < 0 || m.length == 0)
            std::abort();
    return 0;
}

namespace tests::fuzz {

std::vector<std::vector<std::uint8_t>> Seeds() {
    using namespace tests::midi;
    return {
        TwoNotes(),
        Smf(1, 96,
            {Track({Tempo(0, 600'000), Tempo(96, 300'000), EndOfTrack()}),
             Track({Ev(0, {0xC1, 7}), Ev(0, {0x91, 60, 90}), Ev(48, {62, 90}),
                    Ev(0, {0xF0, 0x02, 0x7E, 0xF7}), Ev(48, {0xB1, 7, 100}), EndOfTrack()})}),
        Smf(0, 0xE728, {Track({Ev(0, {0x90, 60, 100}), Ev(40, {0x80, 60, 0}), EndOfTrack()})}),
    };
}

}  // namespace tests::fuzz
