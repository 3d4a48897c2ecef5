// Peak memory of `tunestead-song export --wav` against the song's length: songs of 1, 10 and
// 60 minutes (one note a second, each held half a second), each exported REPETITIONS times;
// the medians of the wall time and of the peak resident size, and the peak's ratio to the
// 1-minute song's. Memory that stays flat gives ratios near 1.
//
//   build/bench/recorder/song_export_bench [REPETITIONS]   (default 3)

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "recorder/SongFile.h"

namespace {

namespace fs = std::filesystem;
using namespace recorder;

struct Export {
    double seconds = 0;
    long peakKiB = 0;
    std::uintmax_t wavBytes = 0;
};

fs::path MakeSong(const fs::path& dir, int minutes) {
    std::vector<NoteEvent> events;
    for (int second = 0; second < minutes * 60; ++second) {
        const auto note = std::uint16_t(60 + second % 12);
        events.push_back(
            MakeNoteEvent(std::uint16_t(kNoteOnBit | 0x7F00 | note), second == 0 ? 0 : 500));
        events.push_back(MakeNoteEvent(std::uint16_t(0x7F00 | note), 500));
    }
    SongFileHeader header;
    header.program = 1;
    const fs::path path = dir / (std::to_string(minutes) + "min.tnd");
    if (!WriteSongFile(path, header, events).Ok()) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(1);
    }
    return path;
}

// One run of the tool as a child process; its own peak resident size from wait4.
Export Run(const fs::path& song, const fs::path& wav) {
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child == 0) {
        ::execl(TUNESTEAD_SONG_TOOL, "tunestead-song", "export", song.c_str(), "--wav", wav.c_str(),
                static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    rusage usage{};
    ::wait4(child, &status, 0, &usage);
    Export result;
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "export of %s failed (status %d)\n", song.c_str(), status);
        std::exit(1);
    }
    result.peakKiB = usage.ru_maxrss;
    result.wavBytes = fs::file_size(wav);
    fs::remove(wav);
    return result;
}

template <typename T>
T Median(std::vector<T> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    std::string pattern = (fs::temp_directory_path() / "song-export-bench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr)
        return 1;
    const fs::path dir = pattern;
    std::printf("%-8s %12s %14s %16s %10s\n", "song", "wall s", "peak RSS MiB", "vs 1 min song",
                "WAV MiB");
    double baselineKiB = 0;
    for (const int minutes : {1, 10, 60}) {
        const fs::path song = MakeSong(dir, minutes);
        std::vector<double> seconds;
        std::vector<long> peaks;
        std::uintmax_t wavBytes = 0;
        for (int i = 0; i < repetitions; ++i) {
            const Export e = Run(song, dir / "out.wav");
            seconds.push_back(e.seconds);
            peaks.push_back(e.peakKiB);
            wavBytes = e.wavBytes;
        }
        const double peakKiB = double(Median(peaks));
        if (minutes == 1)
            baselineKiB = peakKiB;
        std::printf("%3d min  %12.2f %14.1f %16.3f %10.1f\n", minutes, Median(seconds),
                    peakKiB / 1024, peakKiB / baselineKiB, double(wavBytes) / (1 << 20));
        std::fflush(stdout);
    }
    fs::remove_all(dir);
    return 0;
}
