// Speed of `tunestead-song import` on large generated MIDI files: format 1, 480 ticks a quarter,
// a tempo change every bar in the first track, eight tracks of notes on channels 1-7 and 10
// (running status, note-offs as note-ons of velocity 0, a program change and a track name
// each). The tool takes channel 1, an eighth of the notes. Each file is imported REPETITIONS
// times by the tool as a child process; the medians of the wall time and of the peak resident
// size, and the rate in MiB and in MIDI events a second.
//
//   build/bench/recorder/song_import_bench [REPETITIONS]   (default 5)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "recorder/CNoteRecorder.h"
#include "recorder/SongFile.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

void PutBigEndian(Bytes& out, std::uint32_t value, int bytes) {
    for (int i = bytes - 1; i >= 0; --i)
        out.push_back(std::uint8_t(value >> (8 * i)));
}

void PutVariableLength(Bytes& out, std::uint32_t value) {
    std::uint8_t bytes[5];
    int n = 0;
    do {
        bytes[n++] = std::uint8_t(value & 0x7F);
        value >>= 7;
    } while (value != 0);
    while (n > 0) {
        --n;
        out.push_back(std::uint8_t(bytes[n] | (n > 0 ? 0x80 : 0)));
    }
}

void PutTrack(Bytes& file, const Bytes& body) {
    file.insert(file.end(), {'M', 'T', 'r', 'k'});
    PutBigEndian(file, std::uint32_t(body.size()), 4);
    file.insert(file.end(), body.begin(), body.end());
}

constexpr int kNoteTracks = 8;
constexpr std::uint32_t kTicksPerNote = 60;  // an eighth of a quarter

// A file of `notes` notes in all; returns its path and sets the count of MIDI events in it.
fs::path MakeMidiFile(const fs::path& dir, std::uint32_t notes, std::uint64_t* events) {
    Bytes file = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    PutBigEndian(file, 1 + kNoteTracks, 2);
    PutBigEndian(file, 480, 2);
    const std::uint32_t perTrack = notes / kNoteTracks;
    const std::uint32_t lengthTicks = perTrack * kTicksPerNote;
    *events = 0;

    Bytes tempo;
    for (std::uint32_t tick = 0, bar = 0; tick < lengthTicks; tick += 1920, ++bar) {
        PutVariableLength(tempo, tick == 0 ? 0 : 1920);
        const std::uint32_t usPerQuarter = 400'000 + (bar % 7) * 37'003;
        tempo.insert(tempo.end(), {0xFF, 0x51, 0x03});
        PutBigEndian(tempo, usPerQuarter, 3);
        ++*events;
    }
    tempo.insert(tempo.end(), {0x00, 0xFF, 0x2F, 0x00});
    PutTrack(file, tempo);

    for (int t = 0; t < kNoteTracks; ++t) {
        const auto channel = std::uint8_t(t == kNoteTracks - 1 ? 9 : t);
        Bytes body = {0x00,
                      0xFF,
                      0x03,
                      0x05,
                      'T',
                      'r',
                      'a',
                      'c',
                      'k',
                      0x00,
                      std::uint8_t(0xC0 | channel),
                      std::uint8_t(t * 8)};
        body.insert(body.end(), {0x00, std::uint8_t(0x90 | channel)});  // running status after
        for (std::uint32_t i = 0; i < perTrack; ++i) {
            const auto note = std::uint8_t(36 + (i * 7 + std::uint32_t(t) * 5) % 60);
            if (i > 0)
                PutVariableLength(body, kTicksPerNote / 2);
            body.insert(body.end(), {note, std::uint8_t(64 + i % 63)});
            PutVariableLength(body, kTicksPerNote / 2);
            body.insert(body.end(), {note, 0});
        }
        body.insert(body.end(), {0x00, 0xFF, 0x2F, 0x00});
        PutTrack(file, body);
        *events += 2 * std::uint64_t(perTrack) + 1;
    }
    const fs::path path = dir / (std::to_string(notes) + ".mid");
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    return path;
}

struct Import {
    double seconds = 0;
    long peakKiB = 0;
};

// One run of the tool as a child process; its own peak resident size from wait4.
Import Run(const fs::path& mid, const fs::path& tnd) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        if (std::freopen("/dev/null", "w", stdout) == nullptr)
            ::_exit(126);
        ::execl(TUNESTEAD_SONG_TOOL, "tunestead-song", "import", mid.c_str(), tnd.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    Import result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "import of %s failed (status %d)\n", mid.c_str(), status);
        std::exit(1);
    }
    result.peakKiB = usage.ru_maxrss;
    return result;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
    std::string pattern = (fs::temp_directory_path() / "song-import-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return 1;
    const fs::path dir = pattern;
    std::printf("%10s %9s %11s %11s %9s %10s %12s %13s\n", "notes", "MIDI MiB", "MIDI events",
                "song events", "wall s", "MiB/s", "events/s", "peak RSS MiB");
    std::fflush(stdout);  // not again from the children
    for (const std::uint32_t notes : {100'000u, 1'000'000u, 4'000'000u}) {
        std::uint64_t events = 0;
        const fs::path mid = MakeMidiFile(dir, notes, &events);
        const fs::path tnd = dir / "out.tnd";
        std::vector<double> seconds;
        std::vector<long> peaks;
        for (int i = 0; i < repetitions; ++i) {
            const Import run = Run(mid, tnd);
            seconds.push_back(run.seconds);
            peaks.push_back(run.peakKiB);
        }
        recorder::LoadedSong song;
        if (!recorder::ReadSongFile(tnd, recorder::CNoteRecorder::kMaxEvents, &song).Ok())
            return 1;
        const double mib = double(fs::file_size(mid)) / (1 << 20);
        const double wall = Median(seconds);
        std::printf("%10u %9.1f %11llu %11zu %9.3f %10.1f %12.3g %13.1f\n", notes, mib,
                    static_cast<unsigned long long>(events), song.events.size(), wall, mib / wall,
                    double(events) / wall, double(Median(peaks)) / 1024);
        std::fflush(stdout);
        fs::remove(mid);
        fs::remove(tnd);
    }
    fs::remove_all(dir);
    return 0;
}
