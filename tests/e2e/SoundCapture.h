#pragma once

// Records what the audio server plays, from the default sink's monitor, on a thread of its
// own, so that a test can look at any stretch of time afterwards.

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "tests/platform/fluidsynth/PulseMonitor.h"

namespace e2e {

class SoundCapture {
public:
    static constexpr int kRate = 48000;

    // Starts recording at once. Check Ok().
    SoundCapture();
    ~SoundCapture();
    SoundCapture(const SoundCapture&) = delete;
    SoundCapture& operator=(const SoundCapture&) = delete;

    bool Ok() const { return monitor_.Connected(); }

    // Seconds recorded so far.
    double Now() const;
    // Left-channel samples recorded in [from, to) seconds.
    std::vector<float> Between(double from, double to) const;

private:
    void Run();

    tests::fluidsynth::PulseMonitor monitor_{kRate, kRate / 100};
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    std::thread thread_;
};

}  // namespace e2e
