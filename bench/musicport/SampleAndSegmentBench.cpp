// Costs of the sample-instrument and segment paths of the music-port layer:
// - a 10-second 16-bit stereo wave (1.7 MB) through AllocateMemory, DownloadInstrument,
//   UnloadInstrument and DeallocateMemory on the built-in synthesizer (offline);
// - loading a 1 MB Standard MIDI File as a segment, from parsing to the playback schedule.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "musicport/CDirectMusic.h"
#include "musicport/COutputPort.h"
#include "musicport/CSampleInstrument.h"
#include "musicport/CSegment.h"
#include "musicport/CSegmentLoader.h"
#include "musicport/MidiFileReader.h"
#include "musicport/SegmentData.h"
#include "tests/musicport/MidiFixtures.h"
#include "tests/musicport/WaveFixtures.h"
#include "tests/platform/fluidsynth/OfflineMusicSystem.h"

namespace {

using namespace platform::music;

std::vector<BYTE> StereoWave(int rate, double seconds) {
    std::vector<BYTE> out;
    const int frames = int(rate * seconds);
    out.reserve(std::size_t(frames) * 4);
    for (int i = 0; i < frames; ++i) {
        const auto left = std::int16_t(12000 * std::sin(2 * M_PI * 440.0 * i / rate));
        const auto right = std::int16_t(12000 * std::sin(2 * M_PI * 660.0 * i / rate));
        tests::wave::Put16(out, std::uint16_t(left));
        tests::wave::Put16(out, std::uint16_t(right));
    }
    return out;
}

void BM_SampleDownload10sStereo(benchmark::State& state) {
    tests::fluidsynth::OfflineMusicSystem system;
    musicport::CDirectMusic music(system);
    musicport::COutputPort output;
    musicport::PortInfo info{};
    music.Initialize(nullptr, nullptr);
    output.Initialize(music);
    output.GetPortInfo(1, &info);
    output.SetPortParams(0, 0, 1, info.dwEffectFlags, 44100);
    output.ActivatePort(&info, 32);

    std::vector<BYTE> pcm = StereoWave(44100, 10.0);
    const WAVEFORMATEX format = tests::wave::Pcm(2, 44100, 16);
    musicport::CSampleInstrument instrument;
    instrument.SetWaveForm(pcm.data(), &format, DWORD(pcm.size()));
    instrument.SetPatch(40);
    const musicport::SampleRegion region{{0, 127}, {0, 127}};
    instrument.SetRegion(&region);
    instrument.SetLoop(1);
    for (auto _ : state) {
        output.AllocateMemory(instrument);
        output.DownloadInstrument(instrument);
        output.UnloadInstrument(instrument);
        output.DeallocateMemory(instrument);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(pcm.size()));
}
BENCHMARK(BM_SampleDownload10sStereo)->Unit(benchmark::kMillisecond);

// A format-1 file of about 1 MB: a tempo track and 16 tracks of notes with running status.
std::vector<std::uint8_t> MegabyteMidiFile() {
    using namespace tests::midi;
    std::vector<Bytes> chunks;
    Bytes tempo;
    for (int i = 0; i < 200; ++i) {
        const Bytes t = Tempo(i == 0 ? 0 : 480, 400'000 + 1000 * std::uint32_t(i));
        tempo.insert(tempo.end(), t.begin(), t.end());
    }
    const Bytes end = EndOfTrack();
    tempo.insert(tempo.end(), end.begin(), end.end());
    chunks.push_back(Chunk("MTrk", tempo));
    for (int channel = 0; channel < 16; ++channel) {
        Bytes body = Ev(0, {std::uint8_t(0x90 | channel), 60, 100});
        // About 64 KB a track: delta (1 byte) and two data bytes an event.
        for (int i = 0; i < 21'800; ++i) {
            const Bytes e = Ev(i % 2 ? 30 : 0, {std::uint8_t(36 + (i * 7 + channel) % 60),
                                                std::uint8_t(i % 2 ? 0 : 90)});
            body.insert(body.end(), e.begin(), e.end());
        }
        body.insert(body.end(), end.begin(), end.end());
        chunks.push_back(Chunk("MTrk", body));
    }
    Bytes file = Chunk("MThd", {0, 1, 0, 17, 0x01, 0xE0});
    for (const Bytes& c : chunks)
        file.insert(file.end(), c.begin(), c.end());
    return file;
}

void BM_MidiFileLoad1MB(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = MegabyteMidiFile();
    const auto path = std::filesystem::temp_directory_path() / "tunestead-bench-1mb.mid";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    std::size_t messages = 0;
    for (auto _ : state) {
        musicport::CSegment segment;
        musicport::CSegmentLoader::LoadSegment(path.c_str(), segment, 1);
        musicport::MUSIC_TIME length = 0;
        segment.GetLength(&length);
        benchmark::DoNotOptimize(length);
    }
    // The schedule Play hands to the synthesizer, for the same file.
    musicport::MidiFile file;
    musicport::ReadMidiFile(bytes, file);
    messages = musicport::SegmentData::FromMidiFile(file).Schedule(1'000'000).size();
    state.counters["file_bytes"] = double(bytes.size());
    state.counters["events"] = double(messages);
    state.SetBytesProcessed(std::int64_t(state.iterations()) * std::int64_t(bytes.size()));
    std::filesystem::remove(path);
}
BENCHMARK(BM_MidiFileLoad1MB)->Unit(benchmark::kMillisecond);

void BM_MidiFileSchedule1MB(benchmark::State& state) {
    const std::vector<std::uint8_t> bytes = MegabyteMidiFile();
    musicport::MidiFile file;
    musicport::ReadMidiFile(bytes, file);
    const auto segment = musicport::SegmentData::FromMidiFile(file);
    for (auto _ : state)
        benchmark::DoNotOptimize(segment.Schedule(1'000'000).size());
}
BENCHMARK(BM_MidiFileSchedule1MB)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
