// tunestead-bench-latency: the built-in synthesizer's own outputs (PulseAudio, and a native
// PipeWire stream where the server is PipeWire), one row per candidate, beside the floor: an
// ideal writer that keeps 2 ms queued and switches from silence to a full-scale tone when
// triggered, measured the same way in the same run.
//   - note-to-sound: note-on into the port (or the floor's trigger) to its first sample on the
//     sink's monitor, played 100 ms after the last sound, after the output paused itself, and
//     among sounding notes (an organ chord on another channel); the measured note is panned
//     hard right and the chord hard left, so its onset is always timed from exact silence on
//     the right channel;
//   - gaps over a chord re-struck every 250 ms from a busy "GUI" thread, with and without one
//     CPU hog process at normal priority: the stream's underflow count, the server's debug log
//     lines about underruns (PulseAudio), and gaps (runs of exact zero samples) recorded on
//     the sink's monitor;
//   - idle cost: CPU of this process and of the audio server over a stretch of silence.
//
// Needs a PulseAudio-protocol server (PULSE_SERVER) with a null sink as default: PulseAudio
// itself, or pipewire-pulse on PipeWire. For the log column start PulseAudio with
// --log-level=debug and a log file at $PULSE_RUNTIME_PATH/log; the server's CPU is read from
// the pid file at $PULSE_RUNTIME_PATH/pid, or from the processes given with --server-pids
// (PipeWire: pipewire and pipewire-pulse). Usage:
//   tunestead-bench-latency [--reps N] [--hold S] [--idle S] [--held] [--server-pids P,Q]
//                           [CAND ...]
// --held holds the chord instead of re-striking it, so that the busy thread sends no events.
// A candidate is PxC (PulseAudio, P frames x C periods, latency adjusted by the server), PxCf
// (the same with a fixed latency: no PA_STREAM_ADJUST_LATENCY), or pw or pwP (native PipeWire
// stream asking for P frames, 64 by default); a suffix iS pauses the output after S seconds of
// silence instead of the default 1 (PulseAudio) or 5 (PipeWire): 64x3i2, pw64i1. Defaults: 25
// repetitions, 60 s chord, 10 s idle, candidates 64x3 64x8f, or pw on PipeWire. The figures
// include the monitor's own capture latency.

#include <pipewire/pipewire.h>
#include <pulse/error.h>
#include <pulse/simple.h>
#include <sched.h>
#include <spa/param/audio/format-utils.h>
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
#include <functional>
#include <memory>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
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
constexpr auto kRestrike = std::chrono::milliseconds(250);

struct Candidate {
    std::string name;
    bool pipewire = false;
    int periodSize = 64;
    int periods = 8;
    bool adjustLatency = false;
    double idleSeconds = 1.0;
    double pipeWireIdleSeconds = 5.0;
};

struct Settings {
    int reps = 25;
    double holdSeconds = 60;
    double idleSeconds = 10;
    // The chord is held instead of re-struck: the busy thread sends nothing, which tells the
    // output's own gaps from those the event path causes.
    bool held = false;
    std::vector<std::string> serverPids;
    std::vector<Candidate> candidates;
};

struct Stats {
    double median = NAN, p90 = NAN;
};

struct Gaps {
    std::uint64_t underflows = 0;
    int log = -1;
    int gaps = -1;
};

struct Row {
    Stats silence, idle, among;
    Gaps quiet, hog;
    double playerIdleCpu = -1, serverIdleCpu = -1;
    bool realtime = false;
    std::uint32_t queued = 0;
};

Stats Summarise(std::vector<double> v) {
    if (v.empty())
        return {};
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::size_t(q * double(v.size() - 1) + 0.5)]; };
    return {at(0.5), at(0.9)};
}

// First frame in `samples` (interleaved stereo) whose right channel is above `threshold`, or
// -1. The measured note is panned right and the background note left, so a note among
// sounding ones is timed from silence just as one after a pause.
long FirstAbove(const std::vector<std::int16_t>& samples, int threshold) {
    for (std::size_t i = 1; i < samples.size(); i += 2)
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

double ServerCpuSeconds(const std::vector<std::string>& pids) {
    double total = 0;
    for (const std::string& pid : pids) {
        const double s = CpuSeconds(pid);
        if (s < 0)
            return -1;
        total += s;
    }
    return pids.empty() ? -1 : total;
}

// Lines of the server's log that mention an underrun, from byte `from` on; -1 without log.
int LogUnderruns(std::streamoff from) {
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
    return count;
}

std::streamoff LogEnd() {
    std::ifstream file(RuntimeFile("log"), std::ios::ate);
    return file ? std::streamoff(file.tellg()) : 0;
}

// One CPU hog at normal priority: a child process spinning until killed.
class Hog {
public:
    Hog() {
        pid_ = fork();
        if (pid_ == 0) {
            volatile unsigned long spin = 0;
            for (;;)
                spin = spin + 1;
        }
    }
    ~Hog() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }

private:
    pid_t pid_ = -1;
};

// The GUI, busy: a thread that re-strikes the chord every 250 ms and spins in between.
class BusyGui {
public:
    explicit BusyGui(std::function<void()> strike)
        : thread_([this, strike] {
              std::vector<double> work(1 << 14, 1.0);
              auto next = Clock::now();
              while (!stop_) {
                  if (Clock::now() >= next) {
                      strike();
                      next += kRestrike;
                  }
                  for (double& w : work)
                      w = w * 1.0000001 + 1e-9;
              }
          }) {}
    ~BusyGui() {
        stop_ = true;
        thread_.join();
    }

private:
    std::atomic<bool> stop_{false};
    std::thread thread_;
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

// Reads the monitor until `quietMs` of silence (below `threshold`) have passed.
void AwaitQuiet(PulseMonitor& monitor, int threshold, int quietMs) {
    int quiet = 0;
    for (int reads = 0; quiet < quietMs * kMonitorRate / 1000 / kFragmentFrames && reads < 5000;
         ++reads)
        quiet = FirstAbove(monitor.Read(kFragmentFrames), threshold) < 0 ? quiet + 1 : 0;
}

// Milliseconds from `strike` to the first sample above `threshold`; NaN on failure.
double TimeToSound(PulseMonitor& monitor, int threshold, const std::function<void()>& strike) {
    const auto sent = Clock::now();
    strike();
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

// The floor: an ideal writer, real-time where allowed, that keeps `queueMs` queued and writes
// a full-scale tone from the moment it is triggered.
class Floor {
public:
    virtual ~Floor() = default;
    void Trigger(bool on) { on_ = on; }

protected:
    void Fill(float* out, std::size_t frames, int rate) {
        for (std::size_t i = 0; i < frames; ++i, ++phase_) {
            const float v =
                on_ ? float(0.5 * std::sin(2 * std::numbers::pi * 440.0 * double(phase_) / rate))
                    : 0.0f;
            out[2 * i] = out[2 * i + 1] = v;
        }
    }
    std::atomic<bool> on_{false};
    std::uint64_t phase_ = 1;
};

class PulseFloor final : public Floor {
public:
    explicit PulseFloor(double queueMs) {
        const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, kRate, 2};
        pa_buffer_attr attr{};
        attr.maxlength = std::uint32_t(-1);
        attr.tlength = std::uint32_t(queueMs * kRate / 1000) * 8;
        attr.prebuf = std::uint32_t(-1);
        attr.minreq = std::uint32_t(-1);
        attr.fragsize = std::uint32_t(-1);
        int error = 0;
        stream_ = pa_simple_new(nullptr, "floor", PA_STREAM_PLAYBACK, nullptr, "ideal writer",
                                &format, nullptr, &attr, &error);
        if (stream_ != nullptr)
            thread_ = std::thread([this] {
                sched_param param{};
                param.sched_priority = 10;
                sched_setscheduler(0, SCHED_FIFO, &param);
                std::vector<float> block(2 * kBlock);
                while (!stop_) {
                    Fill(block.data(), kBlock, kRate);
                    if (pa_simple_write(stream_, block.data(), block.size() * sizeof(float),
                                        nullptr) < 0)
                        break;
                }
            });
    }
    ~PulseFloor() override {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (stream_ != nullptr)
            pa_simple_free(stream_);
    }
    bool Ok() const { return stream_ != nullptr; }

private:
    static constexpr std::uint32_t kRate = 48000;
    static constexpr std::size_t kBlock = 24;  // 0.5 ms per write
    pa_simple* stream_ = nullptr;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

class PipeWireFloor final : public Floor {
public:
    explicit PipeWireFloor(double queueMs) {
        pw_init(nullptr, nullptr);
        loop_ = pw_thread_loop_new("floor", nullptr);
        pw_thread_loop_start(loop_);
        pw_thread_loop_lock(loop_);
        const std::string latency = std::to_string(int(queueMs * kRate / 1000)) + "/48000";
        stream_ = pw_stream_new_simple(
            pw_thread_loop_get_loop(loop_), "ideal writer",
            pw_properties_new(PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback",
                              PW_KEY_NODE_LATENCY, latency.c_str(), nullptr),
            &Events(), this);
        std::uint8_t pod[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(pod, sizeof pod);
        spa_audio_info_raw info{};
        info.format = SPA_AUDIO_FORMAT_F32;
        info.rate = kRate;
        info.channels = 2;
        info.position[0] = SPA_AUDIO_CHANNEL_FL;
        info.position[1] = SPA_AUDIO_CHANNEL_FR;
        const spa_pod* params[] = {
            spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
        ok_ = pw_stream_connect(
                  stream_, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                  pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                  PW_STREAM_FLAG_RT_PROCESS),
                  params, 1) >= 0;
        pw_thread_loop_unlock(loop_);
    }
    ~PipeWireFloor() override {
        pw_thread_loop_stop(loop_);
        pw_stream_destroy(stream_);
        pw_thread_loop_destroy(loop_);
    }
    bool Ok() const { return ok_; }

private:
    static constexpr std::uint32_t kRate = 48000;
    static const pw_stream_events& Events() {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.process = [](void* data) {
                auto* self = static_cast<PipeWireFloor*>(data);
                pw_buffer* b = pw_stream_dequeue_buffer(self->stream_);
                if (b == nullptr)
                    return;
                spa_data& d = b->buffer->datas[0];
                std::uint32_t frames = d.maxsize / 8;
                if (b->requested != 0)
                    frames = std::min(frames, std::uint32_t(b->requested));
                self->Fill(static_cast<float*>(d.data), frames, kRate);
                d.chunk->offset = 0;
                d.chunk->stride = 8;
                d.chunk->size = frames * 8;
                pw_stream_queue_buffer(self->stream_, b);
            };
            return e;
        }();
        return events;
    }
    pw_thread_loop* loop_ = nullptr;
    pw_stream* stream_ = nullptr;
    bool ok_ = false;
};

// Gaps of the floor's steady tone with the GUI busy, and with a CPU hog as well: what the
// server and the recorder themselves give.
std::pair<int, int> FloorGaps(Floor& floor, double seconds) {
    floor.Trigger(true);
    std::pair<int, int> gaps;
    {
        BusyGui gui([] {});
        gaps.first = RecordGaps(seconds);
        Hog hog;
        gaps.second = RecordGaps(seconds);
    }
    floor.Trigger(false);
    return gaps;
}

Stats FloorLatencies(Floor& floor, int reps) {
    PulseMonitor monitor(kMonitorRate, kFragmentFrames);
    std::vector<double> ms;
    for (int rep = 0; rep < reps && monitor.Connected(); ++rep) {
        floor.Trigger(false);
        AwaitQuiet(monitor, kSilence, 100);
        if (const double v = TimeToSound(monitor, kSilence, [&] { floor.Trigger(true); });
            !std::isnan(v))
            ms.push_back(v);
    }
    floor.Trigger(false);
    return Summarise(ms);
}

// When the measured note-on is played.
enum class Moment {
    AfterSilence,  // 100 ms after the last sound
    AfterIdle,     // after the output has paused itself
    AmongNotes,    // while a quiet organ note sounds on another channel
};

// Milliseconds from a note-on to its first sound on the monitor; NaN on failure.
double OneLatency(PulseMonitor& monitor, IMusicPort& port, const FluidSynthBackend& backend,
                  Moment moment) {
    Play(port, Msg(0x80, 76, 0));
    if (moment != Moment::AmongNotes)
        Play(port, Msg(0xB0, 120, 0));  // all sound off
    const int threshold = kSilence;
    AwaitQuiet(monitor, threshold, 100);
    if (moment == Moment::AfterIdle) {
        const auto limit = Clock::now() + std::chrono::seconds(5);
        while (!backend.LastPortOutputStats().corked && Clock::now() < limit)
            monitor.Read(kFragmentFrames);
        monitor.Read(kFragmentFrames * 4);
    }
    // E5: its sample starts at once (A4's starts about 6 ms late in small SoundFonts).
    return TimeToSound(monitor, threshold, [&] { Play(port, Msg(0x90, 76, 127)); });
}

Stats Latencies(PulseMonitor& monitor, IMusicPort& port, const FluidSynthBackend& backend,
                Moment moment, int reps) {
    std::vector<double> ms;
    for (int rep = 0; rep < reps; ++rep)
        if (const double v = OneLatency(monitor, port, backend, moment); !std::isnan(v))
            ms.push_back(v);
    return Summarise(ms);
}

Gaps ChordGaps(IMusicPort& port, const FluidSynthBackend& backend, double seconds, bool hog,
               bool held) {
    Gaps result;
    Play(port, Msg(0xC0, kOrganProgram));
    const std::uint64_t before = backend.LastPortOutputStats().underruns;
    const std::streamoff logAt = LogEnd();
    auto strike = [&port] {
        for (int note : kChord)
            Play(port, Msg(0x80, BYTE(note), 0));
        for (int note : kChord)
            Play(port, Msg(0x90, BYTE(note), 100));
    };
    strike();
    {
        std::unique_ptr<Hog> cpuHog = hog ? std::make_unique<Hog>() : nullptr;
        BusyGui gui(held ? std::function<void()>([] {}) : strike);
        result.gaps = RecordGaps(seconds);
    }
    result.underflows = backend.LastPortOutputStats().underruns - before;
    result.log = LogUnderruns(logAt);
    for (int note : kChord)
        Play(port, Msg(0x80, BYTE(note), 0));
    Play(port, Msg(0xB0, 120, 0));
    return result;
}

bool MeasureCandidate(const Settings& settings, const Candidate& candidate, Row& row) {
    FluidSynthBackend::Options options;
    options.audioDrivers = {candidate.pipewire ? "pipewire" : "pulseaudio"};
    options.periodSize = candidate.periodSize;
    options.periods = candidate.periods;
    options.normalPeriods = candidate.periods;
    options.adjustLatency = candidate.adjustLatency;
    options.idleSeconds = candidate.idleSeconds;
    options.pipeWireIdleSeconds = candidate.pipeWireIdleSeconds;
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
        std::fprintf(stderr, "%s: cannot activate the synthesizer\n", candidate.name.c_str());
        return false;
    }
    {
        PulseMonitor monitor(kMonitorRate, kFragmentFrames);
        if (!monitor.Connected())
            return false;
        Play(*port, Msg(0xB0, 10, 127));
        row.silence = Latencies(monitor, *port, backend, Moment::AfterSilence, settings.reps);
        row.idle =
            Latencies(monitor, *port, backend, Moment::AfterIdle, std::max(3, settings.reps / 5));
        Play(*port, Msg(0xC1, kOrganProgram));
        Play(*port, Msg(0xB1, 10, 0));
        for (int note : kChord)
            Play(*port, Msg(0x91, BYTE(note), 100));
        row.among = Latencies(monitor, *port, backend, Moment::AmongNotes, settings.reps);
        Play(*port, Msg(0xB1, 120, 0));
        Play(*port, Msg(0xB1, 10, 64));
        Play(*port, Msg(0xB0, 10, 64));
    }
    row.quiet = ChordGaps(*port, backend, settings.holdSeconds, false, settings.held);
    row.hog = ChordGaps(*port, backend, settings.holdSeconds, true, settings.held);
    row.realtime = backend.LastPortOutputStats().realtime;
    row.queued = backend.LastPortOutputStats().targetFrames;

    // Idle: wait for the pause, then count CPU seconds with no recorder attached.
    const auto limit = Clock::now() + std::chrono::seconds(10);
    while (!backend.LastPortOutputStats().corked && Clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const double self0 = CpuSeconds("self");
    const double server0 = ServerCpuSeconds(settings.serverPids);
    std::this_thread::sleep_for(std::chrono::duration<double>(settings.idleSeconds));
    row.playerIdleCpu = 100.0 * (CpuSeconds("self") - self0) / settings.idleSeconds;
    if (server0 >= 0)
        row.serverIdleCpu =
            100.0 * (ServerCpuSeconds(settings.serverPids) - server0) / settings.idleSeconds;
    port->Activate(FALSE);
    return true;
}

bool OnPipeWire() {
    const pid_t child = fork();
    if (child == 0) {
        // pactl info names the server: "PulseAudio (on PipeWire x.y.z)" there.
        execlp("sh", "sh", "-c", "pactl info 2>/dev/null | grep -q 'on PipeWire'",
               static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

Settings Parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto next = [&] { return i + 1 < argc ? std::atof(argv[++i]) : 0.0; };
        Candidate c;
        c.name = arg;
        int frames = 0;
        char fixed = 0;
        if (arg == "--reps")
            s.reps = std::max(1, int(next()));
        else if (arg == "--hold")
            s.holdSeconds = std::max(1.0, next());
        else if (arg == "--held")
            s.held = true;
        else if (arg == "--idle")
            s.idleSeconds = std::max(1.0, next());
        else if (arg == "--server-pids" && i + 1 < argc) {
            std::istringstream list(argv[++i]);
            for (std::string pid; std::getline(list, pid, ',');)
                s.serverPids.push_back(pid);
        } else if (arg.rfind("pw", 0) == 0) {
            c.pipewire = true;
            if (std::sscanf(arg.c_str(), "pw%d", &frames) == 1)
                c.periodSize = frames;
            if (const auto at = arg.find('i'); at != std::string::npos)
                c.pipeWireIdleSeconds = std::atof(arg.c_str() + at + 1);
            s.candidates.push_back(c);
        } else if (std::sscanf(arg.c_str(), "%dx%d%c", &c.periodSize, &c.periods, &fixed) >= 2) {
            c.adjustLatency = fixed != 'f';
            if (const auto at = arg.find('i'); at != std::string::npos)
                c.idleSeconds = std::atof(arg.c_str() + at + 1);
            s.candidates.push_back(c);
        }
    }
    if (s.serverPids.empty()) {
        std::ifstream file(RuntimeFile("pid"));
        if (std::string pid; file >> pid)
            s.serverPids.push_back(pid);
    }
    if (s.candidates.empty()) {
        if (OnPipeWire())
            s.candidates = {{"pw", true}};
        else
            s.candidates = {{"64x3", false, 64, 3, true}, {"64x8f", false, 64, 8, false}};
    }
    return s;
}

std::string Cell(const Stats& stats) {
    char text[32];
    std::snprintf(text, sizeof text, "%6.2f %6.2f", stats.median, stats.p90);
    return text;
}

}  // namespace

int main(int argc, char** argv) {
    const Settings settings = Parse(argc, argv);
    if (!PulseMonitor(kMonitorRate, kFragmentFrames).Connected()) {
        std::fprintf(stderr, "no PulseAudio-protocol server (set PULSE_SERVER)\n");
        return 1;
    }
    const bool pipewire = OnPipeWire();
    std::printf("server: %s; %d repetitions, %.0f s re-struck chord, %.0f s idle; load %s",
                pipewire ? "PipeWire" : "PulseAudio", settings.reps, settings.holdSeconds,
                settings.idleSeconds, [] {
                    static char load[64] = "?";
                    if (std::FILE* f = std::fopen("/proc/loadavg", "r")) {
                        if (std::fgets(load, sizeof load, f) == nullptr)
                            load[0] = 0;
                        std::fclose(f);
                    }
                    return load;
                }());
    {
        Stats floor;
        std::pair<int, int> gaps{-1, -1};
        auto measure = [&](Floor& writer) {
            floor = FloorLatencies(writer, settings.reps);
            gaps = FloorGaps(writer, settings.holdSeconds);
        };
        if (pipewire) {
            PipeWireFloor writer(2.0);
            if (writer.Ok())
                measure(writer);
        } else {
            PulseFloor writer(2.0);
            if (writer.Ok())
                measure(writer);
        }
        std::printf(
            "floor (ideal writer, 2 ms queue): median %.2f ms, p90 %.2f ms; gaps %d with "
            "the GUI busy, %d with a CPU hog too\n",
            floor.median, floor.p90, gaps.first, gaps.second);
    }
    std::printf("%-7s %-3s %5s | %-13s %-13s %-13s | %-16s %-16s | %-17s\n", "", "", "",
                "after silence", "after idle", "among notes", "gaps, GUI busy", "  + CPU hog",
                "idle CPU");
    std::printf("%-7s %-3s %5s | %6s %6s %6s %6s %6s %6s | %5s %4s %5s | %5s %4s %5s | %8s %8s\n",
                "cand.", "rt", "queue", "med", "p90", "med", "p90", "med", "p90", "uflow", "log",
                "gaps", "uflow", "log", "gaps", "player%", "server%");
    bool ok = true;
    for (const Candidate& candidate : settings.candidates) {
        Row row;
        const bool measured = MeasureCandidate(settings, candidate, row);
        ok = measured && ok;
        if (!measured)
            continue;
        std::printf("%-7s %-3s %5u | %s %s %s | %5llu %4d %5d | %5llu %4d %5d | %8.2f %8.2f\n",
                    candidate.name.c_str(), row.realtime ? "yes" : "no", row.queued,
                    Cell(row.silence).c_str(), Cell(row.idle).c_str(), Cell(row.among).c_str(),
                    static_cast<unsigned long long>(row.quiet.underflows), row.quiet.log,
                    row.quiet.gaps, static_cast<unsigned long long>(row.hog.underflows),
                    row.hog.log, row.hog.gaps, row.playerIdleCpu, row.serverIdleCpu);
        std::fflush(stdout);
    }
    return ok ? 0 : 1;
}
