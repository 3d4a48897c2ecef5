// tunestead-bench-latency: the built-in synthesizer's PulseAudio output, one row per candidate
// period size and count:
//   - note-to-sound: note-on into the port to its first sample on the sink's monitor, played
//     100 ms after the last sound, after the output paused itself, and among sounding notes
//     (a quiet organ note on another channel; the onset is where the level passes three
//     times the background's peak);
//   - underruns over a held 10-note chord while load threads keep both cores busy: the
//     stream's underflow count, the server's debug log lines about underruns, and gaps
//     (runs of exact zero samples) recorded on the sink's monitor;
//   - idle cost: CPU of this process and of the PulseAudio server over a stretch of silence.
// A paplay stream through the same sink and recorder gives the gap baseline.
//
// Needs a PulseAudio server (PULSE_SERVER) with a null sink as default; for the log column
// start it with --log-level=debug and a log file at $PULSE_RUNTIME_PATH/log, and for the
// server's CPU its pid file at $PULSE_RUNTIME_PATH/pid (scripts/servers.sh does both, the log
// at its default level). Usage:
//   tunestead-bench-latency [--reps N] [--hold S] [--idle S] [--load THREADS] [PxC ...]
// Defaults: 30 repetitions, 10 s chord, 10 s idle, 1 load thread (the GUI kept busy; the
// machine's other work comes on top), candidates 64x3 64x6 64x8 64x10 64x12. The figures
// include the monitor's own capture latency (64-frame fragments, about 1.3 ms).

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/AudioAnalysis.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace {

using namespace platform::music;
using platform::fluidsynth::FluidSynthBackend;
using tests::fluidsynth::PulseMonitor;
using Clock = std::chrono::steady_clock;

constexpr int kMonitorRate = 48000;
constexpr int kFragmentFrames = 64;
// Samples at or below this (of 32767) count as silence for the note-to-sound timing.
constexpr int kSilence = 2;
// A gap: at least this many frames of exact zero (0.33 ms at 48 kHz). A sounding chord of
// ten organ notes never rests at exact zero that long.
constexpr int kGapFrames = 16;
// The chord: ten notes over two octaves, on a sustaining organ so that it never decays.
constexpr int kChord[] = {48, 52, 55, 59, 60, 62, 64, 67, 71, 72};
constexpr BYTE kOrganProgram = 16;

struct Candidate {
    int periodSize;
    int periods;
};

struct Settings {
    int reps = 30;
    double holdSeconds = 10;
    double idleSeconds = 10;
    int loadThreads = 1;
    std::vector<Candidate> candidates;
};

struct Stats {
    double median = 0, p90 = 0;
};

struct Row {
    Candidate candidate;
    Stats silence, idle, among;
    std::uint64_t streamUnderruns = 0;
    int logUnderruns = -1;
    int gaps = -1;
    double playerIdleCpu = -1, serverIdleCpu = -1;
};

Stats Summarise(std::vector<double> v) {
    if (v.empty())
        return {NAN, NAN};
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::size_t(q * double(v.size() - 1) + 0.5)]; };
    return {at(0.5), at(0.9)};
}

int Peak(const std::vector<std::int16_t>& samples) {
    int peak = 0;
    for (std::int16_t v : samples)
        peak = std::max(peak, std::abs(int(v)));
    return peak;
}

// First frame in `samples` (interleaved stereo) above `threshold`, or -1.
long FirstAbove(const std::vector<std::int16_t>& samples, int threshold) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) > threshold)
            return long(i / 2);
    return -1;
}

HRESULT Play(IMusicPort& port, DWORD message) {
    EventBuffer buffer(64);
    HRESULT hr = buffer.PackStructured(0, 0, message);
    return Succeeded(hr) ? port.PlayBuffer(buffer) : hr;
}

DWORD Msg(BYTE status, BYTE data1, BYTE data2 = 0) {
    return DWORD(status) | DWORD(data1) << 8 | DWORD(data2) << 16;
}

std::string RuntimeFile(const char* name) {
    const char* dir = std::getenv("PULSE_RUNTIME_PATH");
    return dir != nullptr ? std::string(dir) + "/" + name : std::string();
}

// CPU seconds (user + system) of a process so far; negative when it cannot be read.
double CpuSeconds(const std::string& pid) {
    std::ifstream file("/proc/" + pid + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const auto close = text.rfind(')');
    if (close == std::string::npos)
        return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    double ticks = 0;
    // After the name: state is field 3; utime and stime are fields 14 and 15.
    for (int index = 3; index <= 15 && fields >> field; ++index)
        if (index >= 14)
            ticks += std::stod(field);
    return ticks / double(sysconf(_SC_CLK_TCK));
}

std::string ServerPid() {
    std::ifstream file(RuntimeFile("pid"));
    std::string pid;
    file >> pid;
    return pid;
}

// Lines of the server's log that mention an underrun, from byte `from` on; -1 without log.
int LogUnderruns(std::streamoff from, std::streamoff* end) {
    std::ifstream file(RuntimeFile("log"));
    if (!file)
        return -1;
    file.seekg(from);
    int count = 0;
    std::string line;
    while (std::getline(file, line)) {
        std::string lower = line;
        std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
        // One "Implicit underrun of '<stream>'" line per underrun (level debug).
        count += lower.find("underrun of") != std::string::npos ? 1 : 0;
    }
    file.clear();
    *end = file.tellg();
    return count;
}

std::streamoff LogEnd() {
    std::ifstream file(RuntimeFile("log"), std::ios::ate);
    return file ? std::streamoff(file.tellg()) : 0;
}

// Busy threads at normal priority: the GUI and whatever else shares the machine.
class Load {
public:
    explicit Load(int threads) {
        for (int i = 0; i < threads; ++i)
            threads_.emplace_back([this] {
                std::vector<double> work(1 << 16, 1.0);
                while (!stop_)
                    for (double& w : work)
                        w = w * 1.0000001 + 1e-9;
            });
    }
    ~Load() {
        stop_ = true;
        for (auto& t : threads_)
            t.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::vector<std::thread> threads_;
};

// Records `seconds` of the monitor and counts gaps in it.
int RecordGaps(double seconds) {
    PulseMonitor monitor(kMonitorRate, 1024);
    if (!monitor.Connected())
        return -1;
    monitor.Read(kMonitorRate / 2);  // a new record stream may start late
    const auto samples = monitor.Read(std::size_t(seconds * kMonitorRate));
    return tests::fluidsynth::CountSilentGaps(samples, 2, kGapFrames);
}

// When the measured note-on is played.
enum class Moment {
    AfterSilence,  // 100 ms after the last sound: what the server holds is silence
    AfterIdle,     // after the output has paused itself
    AmongNotes,    // while a quiet organ note sounds on another channel
};

// Milliseconds from a note-on to its first sound on the monitor; NaN on failure.
double OneLatency(PulseMonitor& monitor, IMusicPort& port, const FluidSynthBackend& backend,
                  Moment moment) {
    Play(port, Msg(0x80, 69, 0));
    if (moment != Moment::AmongNotes)
        Play(port, Msg(0xB0, 120, 0));  // all sound off
    // The background level: silence, or the organ note.
    int threshold = kSilence;
    if (moment == Moment::AmongNotes) {
        monitor.Read(kMonitorRate / 5);  // the released note fades
        threshold = std::max(kSilence, 3 * Peak(monitor.Read(kMonitorRate / 20)));
    }
    int quiet = 0;
    for (int reads = 0; quiet < 100 * kMonitorRate / 1000 / kFragmentFrames && reads < 5000;
         ++reads)
        quiet = FirstAbove(monitor.Read(kFragmentFrames), threshold) < 0 ? quiet + 1 : 0;
    if (moment == Moment::AfterIdle) {
        const auto limit = Clock::now() + std::chrono::seconds(5);
        while (!backend.LastPortOutputStats().corked && Clock::now() < limit)
            monitor.Read(kFragmentFrames);
        monitor.Read(kFragmentFrames * 4);
    }
    const auto sent = Clock::now();
    Play(port, Msg(0x90, 69, 127));
    for (int reads = 0; reads < 2000; ++reads) {
        const auto samples = monitor.Read(kFragmentFrames);
        const auto arrived = Clock::now();
        if (samples.empty())
            return NAN;
        if (const long first = FirstAbove(samples, threshold); first >= 0) {
            // The chunk ends now; its first sound came (chunk length - first) frames earlier.
            const double ms = std::chrono::duration<double, std::milli>(arrived - sent).count() -
                              1000.0 * double(kFragmentFrames - first) / kMonitorRate;
            return std::max(0.0, ms);
        }
    }
    return NAN;
}

Stats Latencies(PulseMonitor& monitor, IMusicPort& port, const FluidSynthBackend& backend,
                Moment moment, int reps) {
    std::vector<double> ms;
    for (int rep = 0; rep < reps; ++rep)
        if (const double v = OneLatency(monitor, port, backend, moment); !std::isnan(v))
            ms.push_back(v);
    return Summarise(ms);
}

bool MeasureCandidate(const Settings& settings, Row& row) {
    FluidSynthBackend::Options options;
    options.audioDrivers = {"pulseaudio"};
    options.periodSize = row.candidate.periodSize;
    options.periods = row.candidate.periods;
    FluidSynthBackend backend(options);
    // No reverb or chorus: their tails would delay the silence between repetitions.
    DMUS_PORTPARAMS8 params;
    params.dwSize = sizeof params;
    params.dwValidParams = DMUS_PORTPARAMS_SAMPLERATE | DMUS_PORTPARAMS_EFFECTS;
    params.dwSampleRate = 44100;
    params.dwEffectFlags = DMUS_EFFECT_NONE;
    std::unique_ptr<IMusicPort> port;
    if (Failed(backend.CreatePort(FluidSynthBackend::kPortGuid, &params, &port)) ||
        Failed(port->Activate(TRUE))) {
        std::fprintf(stderr, "cannot activate the synthesizer on PulseAudio\n");
        return false;
    }

    {
        PulseMonitor monitor(kMonitorRate, kFragmentFrames);
        if (!monitor.Connected())
            return false;
        row.silence = Latencies(monitor, *port, backend, Moment::AfterSilence, settings.reps);
        row.idle =
            Latencies(monitor, *port, backend, Moment::AfterIdle, std::max(3, settings.reps / 5));
        Play(*port, Msg(0xC1, kOrganProgram));
        Play(*port, Msg(0x91, 48, 40));
        row.among = Latencies(monitor, *port, backend, Moment::AmongNotes, settings.reps);
        Play(*port, Msg(0x81, 48, 0));
        Play(*port, Msg(0xB0, 120, 0));
    }

    Play(*port, Msg(0xC0, kOrganProgram));
    const std::uint64_t before = backend.LastPortOutputStats().underruns;
    std::streamoff logAt = LogEnd();
    for (int note : kChord)
        Play(*port, Msg(0x90, BYTE(note), 100));
    {
        Load load(settings.loadThreads);
        row.gaps = RecordGaps(settings.holdSeconds);
    }
    row.streamUnderruns = backend.LastPortOutputStats().underruns - before;
    row.logUnderruns = LogUnderruns(logAt, &logAt);
    for (int note : kChord)
        Play(*port, Msg(0x80, BYTE(note), 0));

    // Idle: wait for the cork, then count CPU seconds with no recorder attached.
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (!backend.LastPortOutputStats().corked && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const std::string server = ServerPid();
    const double self0 = CpuSeconds("self");
    const double server0 = server.empty() ? -1 : CpuSeconds(server);
    std::this_thread::sleep_for(std::chrono::duration<double>(settings.idleSeconds));
    row.playerIdleCpu = 100.0 * (CpuSeconds("self") - self0) / settings.idleSeconds;
    if (server0 >= 0)
        row.serverIdleCpu = 100.0 * (CpuSeconds(server) - server0) / settings.idleSeconds;
    port->Activate(FALSE);
    return true;
}

// Gaps of a paplay stream of a steady tone through the same sink and recorder.
int PaplayGaps(double seconds) {
    const std::string path = "/tmp/tunestead-bench-tone-" + std::to_string(getpid()) + ".wav";
    {
        const int rate = 44100;
        const auto frames = std::uint32_t((seconds + 2) * rate);
        std::ofstream wav(path, std::ios::binary);
        auto u32 = [&](std::uint32_t v) { wav.write(reinterpret_cast<const char*>(&v), 4); };
        auto u16 = [&](std::uint16_t v) { wav.write(reinterpret_cast<const char*>(&v), 2); };
        wav.write("RIFF", 4);
        u32(36 + frames * 4);
        wav.write("WAVEfmt ", 8);
        u32(16);
        u16(1);
        u16(2);
        u32(rate);
        u32(rate * 4);
        u16(4);
        u16(16);
        wav.write("data", 4);
        u32(frames * 4);
        for (std::uint32_t i = 0; i < frames; ++i) {
            const auto s =
                std::int16_t(8000 * std::sin(2 * std::numbers::pi * 440.0 * i / rate) + 9000);
            u16(std::uint16_t(s));
            u16(std::uint16_t(s));
        }
    }
    const pid_t child = fork();
    if (child == 0) {
        execlp("paplay", "paplay", path.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    int gaps = -1;
    {
        Load load(2);
        gaps = RecordGaps(seconds);
    }
    kill(child, SIGTERM);
    waitpid(child, nullptr, 0);
    std::remove(path.c_str());
    return gaps;
}

Settings Parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return i + 1 < argc ? std::atof(argv[++i]) : 0.0; };
        if (arg == "--reps")
            s.reps = std::max(1, int(next()));
        else if (arg == "--hold")
            s.holdSeconds = std::max(1.0, next());
        else if (arg == "--idle")
            s.idleSeconds = std::max(1.0, next());
        else if (arg == "--load")
            s.loadThreads = std::max(0, int(next()));
        else if (int p = 0, c = 0; std::sscanf(arg.c_str(), "%dx%d", &p, &c) == 2)
            s.candidates.push_back({p, c});
    }
    if (s.candidates.empty())
        s.candidates = {{64, 3}, {64, 6}, {64, 8}, {64, 10}, {64, 12}};
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = Parse(argc, argv);
    if (!PulseMonitor(kMonitorRate, kFragmentFrames).Connected()) {
        std::fprintf(stderr, "no PulseAudio server (set PULSE_SERVER)\n");
        return 1;
    }
    std::printf("%d repetitions, %.0f s chord under %d load threads, %.0f s idle\n", settings.reps,
                settings.holdSeconds, settings.loadThreads, settings.idleSeconds);
    std::printf("paplay baseline: %d gaps in %.0f s\n", PaplayGaps(settings.holdSeconds),
                settings.holdSeconds);
    std::printf("%-7s | %-13s %-13s %-13s | %-22s | %-17s\n", "", "after silence", "after idle",
                "among notes", "underruns in chord", "idle CPU");
    std::printf("%-7s | %6s %6s %6s %6s %6s %6s | %9s %6s %5s | %8s %8s\n", "period", "med", "p90",
                "med", "p90", "med", "p90", "underflow", "log", "gaps", "player%", "server%");
    bool ok = true;
    for (const Candidate& candidate : settings.candidates) {
        Row row;
        row.candidate = candidate;
        ok = MeasureCandidate(settings, row) && ok;
        char name[16];
        std::snprintf(name, sizeof name, "%dx%d", candidate.periodSize, candidate.periods);
        std::printf("%-7s | %6.2f %6.2f %6.2f %6.2f %6.2f %6.2f | %9llu %6d %5d | %8.2f %8.2f\n",
                    name, row.silence.median, row.silence.p90, row.idle.median, row.idle.p90,
                    row.among.median, row.among.p90,
                    static_cast<unsigned long long>(row.streamUnderruns), row.logUnderruns,
                    row.gaps, row.playerIdleCpu, row.serverIdleCpu);
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}
