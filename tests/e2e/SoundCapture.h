#pragma once

// Records what a PulseAudio sink plays, from its monitor source, on a thread of its own, and
// measures the recording: level and pitch over a stretch of time.

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct pa_simple;

namespace e2e {

class SoundCapture {
public:
    static constexpr int kRate = 48000;

    // Starts recording mono samples from `source` (e.g. "nullsink.monitor"). Check Ok().
    explicit SoundCapture(const std::string& source);
    ~SoundCapture();
    SoundCapture(const SoundCapture&) = delete;
    SoundCapture& operator=(const SoundCapture&) = delete;

    bool Ok() const { return error_.empty(); }
    const std::string& Error() const { return error_; }

    // Seconds recorded so far.
    double Now() const;
    // Samples recorded in [from, to) seconds.
    std::vector<float> Between(double from, double to) const;

private:
    void Run();

    std::string error_;
    ::pa_simple* stream_ = nullptr;
    std::atomic<bool> stop_{false};
    mutable std::mutex mutex_;
    std::vector<float> samples_;
    std::thread thread_;
};

// Root mean square of the samples.
double Rms(const std::vector<float>& samples);
// Fundamental frequency by autocorrelation, searched between 50 and 2000 Hz; 0 for silence.
double PitchHz(const std::vector<float>& samples, int rate);

}  // namespace e2e
