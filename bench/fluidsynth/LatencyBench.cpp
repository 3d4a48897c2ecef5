// tunestead-bench-latency: time from playing a note-on into the built-in synthesizer port to
// the first non-silent sample on a PulseAudio sink's monitor.
//
// Needs a running PulseAudio server (PULSE_SERVER) whose default sink has a monitor, e.g.
// the null sink of the test setup. Usage: tunestead-bench-latency [repetitions]
// Runs the port's default periods (64 frames x 3) and, as a baseline in the same process,
// 1024 x 2. The figure includes the monitor's own capture latency (64-frame fragments).

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/fluidsynth/FluidSynthBackend.h"
#include "platform/music/EventBuffer.h"
#include "platform/music/ResultCodes.h"
#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace {

using namespace platform::music;
using platform::fluidsynth::FluidSynthBackend;
using tests::fluidsynth::PulseMonitor;
using Clock = std::chrono::steady_clock;

constexpr int kFragmentFrames = 64;
// Samples at or below this (of 32767) count as silence.
constexpr int kSilence = 2;

// First frame in `samples` (interleaved stereo) above silence, or -1.
long FirstSound(const std::vector<std::int16_t>& samples) {
    for (std::size_t i = 0; i < samples.size(); ++i)
        if (std::abs(int(samples[i])) > kSilence)
            return long(i / 2);
    return -1;
}

HRESULT Play(IMusicPort& port, DWORD message) {
    EventBuffer buffer(64);
    HRESULT hr = buffer.PackStructured(0, 0, message);
    return Succeeded(hr) ? port.PlayBuffer(buffer) : hr;
}

struct Stats {
    double p10, median, p90, min, max;
};

Stats Summarise(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    auto at = [&](double q) { return v[std::size_t(q * double(v.size() - 1) + 0.5)]; };
    return {at(0.1), at(0.5), at(0.9), v.front(), v.back()};
}

// Milliseconds from each note-on to its first sound, `repetitions` times; empty on failure.
std::vector<double> Measure(PulseMonitor& monitor, int periodSize, int periods, int repetitions) {
    FluidSynthBackend::Options options;
    options.audioDrivers = {"pulseaudio"};
    options.periodSize = periodSize;
    options.periods = periods;
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
        return {};
    }
    const double rate = monitor.SampleRate();
    std::vector<double> latencies;
    for (int rep = 0; rep < repetitions; ++rep) {
        // All sound off, then wait for 100 ms of silence in a row.
        Play(*port, 0x000078B0);
        int quiet = 0;
        for (int reads = 0; quiet < 100 * int(rate) / 1000 / kFragmentFrames && reads < 5000;
             ++reads) {
            const auto samples = monitor.Read(kFragmentFrames);
            quiet = FirstSound(samples) < 0 ? quiet + 1 : 0;
        }
        const auto sent = Clock::now();
        Play(*port, 0x007F4590);  // note 69, velocity 127
        for (int reads = 0; reads < 2000; ++reads) {
            const auto samples = monitor.Read(kFragmentFrames);
            const auto arrived = Clock::now();
            const long first = FirstSound(samples);
            if (samples.empty())
                return {};
            if (first >= 0) {
                // The chunk ends now; its first sound came (chunk length - first) frames earlier.
                const double ms =
                    std::chrono::duration<double, std::milli>(arrived - sent).count() -
                    1000.0 * double(kFragmentFrames - first) / rate;
                latencies.push_back(std::max(0.0, ms));
                break;
            }
        }
    }
    port->Activate(FALSE);
    return latencies;
}

void Report(const char* name, const std::vector<double>& latencies) {
    if (latencies.empty()) {
        std::printf("%-22s no measurement\n", name);
        return;
    }
    const Stats s = Summarise(latencies);
    std::printf("%-22s n=%3zu  median %6.2f ms  p10 %6.2f  p90 %6.2f  min %6.2f  max %6.2f\n", name,
                latencies.size(), s.median, s.p10, s.p90, s.min, s.max);
}

}  // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 100;
    PulseMonitor monitor(48000, kFragmentFrames);
    if (!monitor.Connected()) {
        std::fprintf(stderr, "no PulseAudio server (set PULSE_SERVER)\n");
        return 1;
    }
    const auto small = Measure(monitor, 64, 3, repetitions);
    const auto large = Measure(monitor, 1024, 2, repetitions);
    Report("periods 64 x 3", small);
    Report("baseline 1024 x 2", large);
    if (!small.empty() && !large.empty())
        std::printf("median ratio baseline / default: %.2f\n",
                    Summarise(large).median / Summarise(small).median);
    return small.empty() ? 1 : 0;
}
