#pragma once

// Records what a PulseAudio server plays: a record stream on the default sink's monitor,
// 16-bit stereo, with small fragments so that sound shows up soon after it is played.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

struct pa_simple;

namespace tests::fluidsynth {

class PulseMonitor {
public:
    // Connects to the server named by PULSE_SERVER (or libpulse's default).
    explicit PulseMonitor(int sampleRate = 48000, int fragmentFrames = 64);
    ~PulseMonitor();

    bool Connected() const { return stream_ != nullptr; }
    int SampleRate() const { return sampleRate_; }
    // Blocks until `frames` stereo frames have been read; empty on failure.
    std::vector<std::int16_t> Read(std::size_t frames);

    // True when PULSE_SERVER is set and a server answers there.
    static bool ServerReachable();

private:
    struct Deleter {
        void operator()(pa_simple* stream) const;
    };
    std::unique_ptr<pa_simple, Deleter> stream_;
    int sampleRate_;
};

}  // namespace tests::fluidsynth
