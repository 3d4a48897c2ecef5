#pragma once

// Wave files for tests: RIFF bytes built chunk by chunk, PCM sine waves, a scratch folder
// and sox for reference files.

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "platform/music/Types.h"

namespace tests::wave {

using Bytes = std::vector<std::uint8_t>;

inline void Put16(Bytes& out, std::uint32_t v) {
    out.push_back(std::uint8_t(v));
    out.push_back(std::uint8_t(v >> 8));
}
inline void Put32(Bytes& out, std::uint32_t v) {
    Put16(out, v);
    Put16(out, v >> 16);
}

// One chunk; `declared` overrides the size field (a chunk that lies about its size).
inline Bytes Chunk(const char (&id)[5], const Bytes& body, std::int64_t declared = -1) {
    Bytes out(id, id + 4);
    Put32(out, declared >= 0 ? std::uint32_t(declared) : std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    if (body.size() % 2 != 0)
        out.push_back(0);  // pad byte
    return out;
}

inline Bytes Fmt(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate, std::uint16_t bits,
                 std::uint16_t blockAlign = 0, const Bytes& extra = {},
                 bool withExtraSize = false) {
    if (blockAlign == 0)
        blockAlign = std::uint16_t(channels * ((bits + 7) / 8));
    Bytes b;
    Put16(b, tag);
    Put16(b, channels);
    Put32(b, rate);
    Put32(b, rate * blockAlign);
    Put16(b, blockAlign);
    Put16(b, bits);
    if (withExtraSize || !extra.empty()) {
        Put16(b, std::uint16_t(extra.size()));
        b.insert(b.end(), extra.begin(), extra.end());
    }
    return b;
}

// "RIFF" <size> "WAVE" and the chunks; `riffSize` overrides the RIFF size field.
inline Bytes Riff(const std::vector<Bytes>& chunks, std::int64_t riffSize = -1) {
    Bytes body{'W', 'A', 'V', 'E'};
    for (const Bytes& c : chunks)
        body.insert(body.end(), c.begin(), c.end());
    Bytes out{'R', 'I', 'F', 'F'};
    Put32(out, riffSize >= 0 ? std::uint32_t(riffSize) : std::uint32_t(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
}

// 16-bit signed PCM sine, mono.
inline Bytes Sine16(double hz, int rate, double seconds, double amplitude = 0.5) {
    Bytes out;
    const int frames = int(seconds * rate);
    for (int i = 0; i < frames; ++i)
        Put16(out, std::uint16_t(std::int16_t(
                       std::lround(amplitude * 32767.0 * std::sin(2.0 * M_PI * hz * i / rate)))));
    return out;
}

inline platform::music::WAVEFORMATEX Pcm(std::uint16_t channels, std::uint32_t rate,
                                         std::uint16_t bits) {
    platform::music::WAVEFORMATEX f;
    f.wFormatTag = platform::music::WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = std::uint16_t(channels * bits / 8);
    f.nAvgBytesPerSec = rate * f.nBlockAlign;
    f.wBitsPerSample = bits;
    return f;
}

// A fresh folder under the system's temporary folder, removed with the object.
class ScratchDir {
public:
    explicit ScratchDir(const std::string& name)
        : path_(std::filesystem::temp_directory_path() /
                (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

inline void WriteFile(const std::string& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

inline Bytes ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Runs sox with `arguments`; true when it succeeded.
inline bool Sox(const std::string& arguments) {
    return std::system(("sox " + arguments + " 2>/dev/null").c_str()) == 0;
}

}  // namespace tests::wave
