#include "musicport/CWaveFile.h"

#include <gtest/gtest.h>

#include "platform/music/ResultCodes.h"
#include "tests/musicport/WaveFixtures.h"

namespace musicport {
namespace {

namespace pm = platform::music;
using namespace tests::wave;

Bytes ReadAll(CWaveFile& file) {
    Bytes data(file.GetSize());
    pm::DWORD read = 0;
    EXPECT_EQ(file.Read(data.data(), file.GetSize(), &read), pm::S_OK);
    EXPECT_EQ(read, file.GetSize());
    return data;
}

// sox writes the reference file and its raw samples; the reader must give the same format
// and the same bytes.
TEST(CWaveFile, ReadsWhatSoxWrites) {
    struct Case {
        const char* name;
        const char* format;  // sox output options
        pm::WORD channels;
        pm::WORD bits;
    };
    const Case cases[] = {
        {"8-bit mono", "-b 8 -c 1", 1, 8},
        {"16-bit mono", "-b 16 -c 1 -t wavpcm", 1, 16},
        {"16-bit stereo", "-b 16 -c 2 -t wavpcm", 2, 16},
        {"24-bit stereo, plain", "-b 24 -c 2 -t wavpcm", 2, 24},
        {"24-bit stereo, extensible", "-b 24 -c 2", 2, 24},
        {"16-bit mono, odd sample count", "-b 16 -c 1", 1, 16},
    };
    ScratchDir dir("cwavefile-sox");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string wav = dir.File("ref.wav");
        const std::string raw = dir.File("ref.raw");
        // 0.0101 s at 22050 Hz is 223 frames: an odd 8-bit data chunk gets a pad byte.
        ASSERT_TRUE(Sox("-n -r 22050 " + std::string(c.format) + " " + wav +
                        " synth 0.0101 sine 440 vol 0.5"));
        ASSERT_TRUE(Sox(wav + " -t raw " + raw));
        CWaveFile file;
        ASSERT_EQ(file.Open(wav, CWaveFile::Mode::Read), pm::S_OK);
        const pm::WAVEFORMATEX& f = file.GetFormat();
        EXPECT_EQ(f.wFormatTag, pm::WAVE_FORMAT_PCM);
        EXPECT_EQ(f.cbSize, 0);  // PCM: an 18-byte format without extra bytes
        EXPECT_EQ(f.nChannels, c.channels);
        EXPECT_EQ(f.wBitsPerSample, c.bits);
        EXPECT_EQ(f.nSamplesPerSec, 22050u);
        EXPECT_EQ(f.nBlockAlign, c.channels * c.bits / 8);
        EXPECT_TRUE(file.GetFormatExtra().empty());
        EXPECT_EQ(ReadAll(file), ReadFile(raw));
        // Reading on at the end gives nothing; ResetFile starts again.
        pm::DWORD read = 99;
        std::uint8_t byte = 0;
        EXPECT_EQ(file.Read(&byte, 1, &read), pm::S_OK);
        EXPECT_EQ(read, 0u);
        EXPECT_EQ(file.ResetFile(), pm::S_OK);
        EXPECT_EQ(ReadAll(file), ReadFile(raw));
    }
}

// The writer's files read back in our reader and in sox, which also checks the sizes that
// Close fixes.
TEST(CWaveFile, WrittenFilesReadBackHereAndInSox) {
    ScratchDir dir("cwavefile-write");
    const std::string wav = dir.File("out.wav");
    const Bytes data = Sine16(440, 8000, 0.05);
    {
        CWaveFile out;
        const pm::WAVEFORMATEX format = Pcm(1, 8000, 16);
        ASSERT_EQ(out.Open(wav, CWaveFile::Mode::Write, &format), pm::S_OK);
        pm::DWORD written = 0;
        // In two parts, the first odd-sized.
        ASSERT_EQ(out.Write(data.data(), 101, &written), pm::S_OK);
        EXPECT_EQ(written, 101u);
        ASSERT_EQ(out.Write(data.data() + 101, pm::DWORD(data.size() - 101), &written), pm::S_OK);
        EXPECT_EQ(out.GetSize(), data.size());
        EXPECT_EQ(out.Close(), pm::S_OK);
    }
    const Bytes bytes = ReadFile(wav);
    ASSERT_GE(bytes.size(), 56u);
    EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + 4), Bytes({'R', 'I', 'F', 'F'}));
    EXPECT_EQ(bytes[4] | bytes[5] << 8 | bytes[6] << 16, int(bytes.size() - 8));
    // "fmt " 16 bytes for PCM, then "fact" with the frame count.
    EXPECT_EQ(Bytes(bytes.begin() + 36, bytes.begin() + 40), Bytes({'f', 'a', 'c', 't'}));
    EXPECT_EQ(bytes[44] | bytes[45] << 8, int(data.size() / 2));
    // Byte rate and block align of 16-bit mono at 8000 Hz.
    EXPECT_EQ(bytes[28] | bytes[29] << 8 | bytes[30] << 16, 16000);
    EXPECT_EQ(bytes[32] | bytes[33] << 8, 2);

    CWaveFile in;
    ASSERT_EQ(in.Open(wav, CWaveFile::Mode::Read), pm::S_OK);
    EXPECT_EQ(ReadAll(in), data);
    const std::string raw = dir.File("out.raw");
    ASSERT_TRUE(Sox(wav + " -t raw " + raw));
    EXPECT_EQ(ReadFile(raw), data);

    // An odd-sized data chunk is followed by a pad byte that the RIFF size counts.
    {
        CWaveFile out;
        const pm::WAVEFORMATEX format = Pcm(1, 8000, 8);
        ASSERT_EQ(out.Open(wav, CWaveFile::Mode::Write, &format), pm::S_OK);
        ASSERT_EQ(out.Write(data.data(), 101, nullptr), pm::S_OK);
        EXPECT_EQ(out.Close(), pm::S_OK);
    }
    const Bytes odd = ReadFile(wav);
    ASSERT_EQ(odd.size() % 2, 0u);
    EXPECT_EQ(odd.back(), 0);
    EXPECT_EQ(odd[4] | odd[5] << 8 | odd[6] << 16, int(odd.size() - 8));
    EXPECT_EQ(odd[odd.size() - 106] | odd[odd.size() - 105] << 8, 101);  // data size
    ASSERT_EQ(in.Open(wav, CWaveFile::Mode::Read), pm::S_OK);
    EXPECT_EQ(ReadAll(in), Bytes(data.begin(), data.begin() + 101));

    // A format with extra bytes: "fmt " of 18 + extra bytes, kept on reading.
    pm::WAVEFORMATEX adpcm = Pcm(1, 8000, 4);
    adpcm.wFormatTag = 2;
    adpcm.nBlockAlign = 256;
    const Bytes extra{0xF4, 0x01, 0x07, 0x00, 0x00, 0x01};
    {
        CWaveFile out;
        ASSERT_EQ(out.Open(wav, CWaveFile::Mode::Write, &adpcm, extra), pm::S_OK);
        ASSERT_EQ(out.Write(data.data(), 512, nullptr), pm::S_OK);
    }  // the destructor finishes the file
    ASSERT_EQ(in.Open(wav, CWaveFile::Mode::Read), pm::S_OK);
    EXPECT_EQ(in.GetFormat().wFormatTag, 2);
    EXPECT_EQ(in.GetFormat().cbSize, extra.size());
    EXPECT_EQ(Bytes(in.GetFormatExtra().begin(), in.GetFormatExtra().end()), extra);
    EXPECT_EQ(in.GetSize(), 512u);
}

TEST(CWaveFile, AcceptsPaddedAndUnknownChunksAndALongRiffSize) {
    const Bytes data{1, 2, 3, 4, 5, 6};
    const Bytes fmt = Chunk("fmt ", Fmt(1, 1, 8000, 16));
    const Bytes list = Chunk("LIST", {'a', 'b', 'c'});  // odd size: a pad byte follows
    for (const Bytes& file : {Riff({list, fmt, Chunk("junk", Bytes(7, 0)), Chunk("data", data)}),
                              Riff({fmt, Chunk("data", data)}, 1'000'000)}) {
        CWaveFile wave;
        ASSERT_EQ(wave.OpenFromMemory(file, CWaveFile::Mode::Read), pm::S_OK);
        EXPECT_EQ(ReadAll(wave), data);
    }

    // Extensible with the PCM subtype is reported as plain PCM.
    Bytes ext;
    Put16(ext, 16);   // valid bits
    Put32(ext, 0x3);  // channel mask
    Put16(ext, 1);    // subtype: PCM ...
    const Bytes tail{0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                     0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
    ext.insert(ext.end(), tail.begin(), tail.end());
    CWaveFile wave;
    ASSERT_EQ(wave.OpenFromMemory(Riff({Chunk("fmt ", Fmt(0xFFFE, 2, 8000, 16, 0, ext)),
                                        Chunk("data", Bytes(8, 0))}),
                                  CWaveFile::Mode::Read),
              pm::S_OK);
    EXPECT_EQ(wave.GetFormat().wFormatTag, pm::WAVE_FORMAT_PCM);
    EXPECT_EQ(wave.GetFormat().cbSize, 0);
    // ... while another subtype keeps the extensible tag and its 22 extra bytes.
    ext[6] = 3;
    ASSERT_EQ(wave.OpenFromMemory(Riff({Chunk("fmt ", Fmt(0xFFFE, 2, 8000, 32, 0, ext)),
                                        Chunk("data", Bytes(8, 0))}),
                                  CWaveFile::Mode::Read),
              pm::S_OK);
    EXPECT_EQ(wave.GetFormat().wFormatTag, 0xFFFE);
    EXPECT_EQ(wave.GetFormatExtra().size(), 22u);
}

TEST(CWaveFile, RefusesMalformedFiles) {
    const Bytes pcm = Chunk("fmt ", Fmt(1, 1, 8000, 16));
    const Bytes data = Chunk("data", Bytes(16, 0));
    Bytes notRiff = Riff({pcm, data});
    notRiff[3] = 'X';
    Bytes notWave = Riff({pcm, data});
    notWave[8] = 'A';
    const Bytes whole = Riff({pcm, data});
    struct Case {
        const char* name;
        Bytes file;
    };
    const Case cases[] = {
        {"empty", {}},
        {"shorter than a RIFF header", Bytes(whole.begin(), whole.begin() + 10)},
        {"not RIFF", notRiff},
        {"not WAVE", notWave},
        {"truncated inside the format", Bytes(whole.begin(), whole.begin() + 30)},
        {"truncated inside the data", Bytes(whole.begin(), whole.end() - 3)},
        {"data claims 4 GB", Riff({pcm, Chunk("data", Bytes(16, 0), 0xFFFFFFF0)})},
        {"format claims more than the file",
         Riff({Chunk("fmt ", Fmt(1, 1, 8000, 16), 4096), data})},
        {"unknown chunk claims more than the file",
         Riff({Chunk("LIST", Bytes(4, 0), 0x7FFFFFFF), pcm, data})},
        {"format of 14 bytes", Riff({Chunk("fmt ", Bytes(14, 1)), data})},
        {"zero channels", Riff({Chunk("fmt ", Fmt(1, 0, 8000, 16, 2)), data})},
        {"zero rate", Riff({Chunk("fmt ", Fmt(1, 1, 0, 16)), data})},
        {"zero block align", Riff({Chunk("fmt ",
                                         [] {
                                             Bytes b = Fmt(3, 1, 8000, 32);
                                             b[12] = b[13] = 0;
                                             return b;
                                         }()),
                                   data})},
        {"PCM block align disagrees", Riff({Chunk("fmt ", Fmt(1, 2, 8000, 16, 2)), data})},
        {"extra size beyond the chunk",
         Riff({Chunk("fmt ",
                     [] {
                         Bytes b = Fmt(2, 1, 8000, 4, 256, {}, true);
                         b[16] = 0xFF;  // claims 255 extra bytes in an 18-byte chunk
                         return b;
                     }()),
               data})},
        {"no data chunk", Riff({pcm})},
        {"no format chunk", Riff({data})},
        {"chunks beyond the RIFF size", Riff({pcm, data}, 4 + 24)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CWaveFile wave;
        EXPECT_EQ(wave.OpenFromMemory(c.file, CWaveFile::Mode::Read), pm::E_FAIL);
        pm::DWORD read = 1;
        std::uint8_t byte = 0;
        EXPECT_EQ(wave.Read(&byte, 1, &read), pm::E_FAIL);  // nothing is open
        EXPECT_EQ(read, 0u);
    }
}

TEST(CWaveFile, MemoryIsReadOnlyAndMissingFilesFallBackToResources) {
    CWaveFile wave;
    EXPECT_EQ(wave.OpenFromMemory({}, CWaveFile::Mode::Write), pm::E_NOTIMPL);
    EXPECT_EQ(wave.Open("/nonexistent/a.wav", CWaveFile::Mode::Read), pm::E_FAIL);

    const Bytes file = Riff({Chunk("fmt ", Fmt(1, 1, 8000, 8)), Chunk("data", {7, 8, 9})});
    std::vector<std::string> asked;
    const ResourceLookup resources = [&](std::string_view name, std::string_view type,
                                         std::vector<std::uint8_t>& bytes) {
        asked.push_back(std::string(name) + "/" + std::string(type));
        if (type != "WAV")
            return false;
        bytes = file;
        return true;
    };
    ASSERT_EQ(wave.Open("chime", CWaveFile::Mode::Read, nullptr, {}, resources), pm::S_OK);
    EXPECT_EQ(asked, (std::vector<std::string>{"chime/WAVE", "chime/WAV"}));
    EXPECT_EQ(ReadAll(wave), (Bytes{7, 8, 9}));
}

}  // namespace
}  // namespace musicport
