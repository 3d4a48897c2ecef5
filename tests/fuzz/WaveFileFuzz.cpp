// Fuzz target: the RIFF/WAVE reader over arbitrary bytes.

#include <cstdlib>

#include "musicport/CWaveFile.h"
#include "platform/music/ResultCodes.h"
#include "tests/fuzz/FuzzMain.h"
#include "tests/musicport/WaveFixtures.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    musicport::CWaveFile file;
    if (platform::music::Failed(
            file.OpenFromMemory({data, size}, musicport::CWaveFile::Mode::Read)))
        return 0;
    // A wave never has more sample bytes than its file.
    if (file.GetSize() > size || file.GetFormat().nChannels == 0 ||
        file.GetFormat().nBlockAlign == 0)
        std::abort();
    std::uint8_t buffer[257];
    platform::music::DWORD read = 0;
    platform::music::DWORD total = 0;
    while (platform::music::Succeeded(file.Read(buffer, sizeof buffer, &read)) && read != 0)
        total += read;
    if (total != file.GetSize())
        std::abort();
    return 0;
}

namespace tests::fuzz {

std::vector<std::vector<std::uint8_t>> Seeds() {
    using namespace tests::wave;
    Bytes extensible;
    Put16(extensible, 24);
    Put32(extensible, 3);
    Put16(extensible, 1);
    for (std::uint8_t b :
         {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        extensible.push_back(b);
    return {
        Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16)), Chunk("data", Sine16(440, 8000, 0.002))}),
        Riff({Chunk("LIST", {'a', 'b', 'c'}), Chunk("fmt ", Fmt(1, 2, 22050, 8)),
              Chunk("data", Bytes(9, 0x80))}),
        Riff({Chunk("fmt ", Fmt(0xFFFE, 2, 48000, 24, 0, extensible)), Chunk("fact", Bytes(4, 1)),
              Chunk("data", Bytes(12, 7))}),
        Riff({Chunk("fmt ", Fmt(2, 1, 8000, 4, 256, {0xF4, 0x01, 0x07, 0x00})),
              Chunk("data", Bytes(32, 3))}),
    };
}

}  // namespace tests::fuzz
