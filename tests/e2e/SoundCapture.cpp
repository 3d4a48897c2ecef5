#include "SoundCapture.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <cmath>

namespace e2e {

SoundCapture::SoundCapture(const std::string& source) {
    const pa_sample_spec sampleSpec{PA_SAMPLE_FLOAT32LE, kRate, 1};
    // Small fragments: the recording follows the sink within a few milliseconds.
    pa_buffer_attr attr{};
    attr.maxlength = std::uint32_t(-1);
    attr.fragsize = kRate * sizeof(float) / 100;
    int error = 0;
    stream_ = pa_simple_new(nullptr, "tunestead-e2e", PA_STREAM_RECORD, source.c_str(), "capture",
                            &sampleSpec, nullptr, &attr, &error);
    if (stream_ == nullptr) {
        error_ = pa_strerror(error);
        return;
    }
    thread_ = std::thread([this] { Run(); });
}

SoundCapture::~SoundCapture() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
    if (stream_ != nullptr)
        pa_simple_free(stream_);
}

void SoundCapture::Run() {
    std::vector<float> chunk(kRate / 100);
    while (!stop_) {
        int error = 0;
        if (pa_simple_read(stream_, chunk.data(), chunk.size() * sizeof(float), &error) < 0)
            return;
        std::lock_guard lock(mutex_);
        samples_.insert(samples_.end(), chunk.begin(), chunk.end());
    }
}

double SoundCapture::Now() const {
    std::lock_guard lock(mutex_);
    return double(samples_.size()) / kRate;
}

std::vector<float> SoundCapture::Between(double from, double to) const {
    std::lock_guard lock(mutex_);
    const auto begin = std::min(samples_.size(), std::size_t(std::max(0.0, from) * kRate));
    const auto end = std::min(samples_.size(), std::size_t(std::max(0.0, to) * kRate));
    if (end <= begin)
        return {};
    return {samples_.begin() + std::ptrdiff_t(begin), samples_.begin() + std::ptrdiff_t(end)};
}

double Rms(const std::vector<float>& samples) {
    if (samples.empty())
        return 0.0;
    double sum = 0.0;
    for (const float s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / double(samples.size()));
}

double PitchHz(const std::vector<float>& samples, int rate) {
    const int minLag = rate / 2000;
    const int maxLag = rate / 50;
    if (int(samples.size()) < 2 * maxLag || Rms(samples) < 1e-4)
        return 0.0;
    const int n = int(samples.size()) - maxLag;
    std::vector<double> corr(std::size_t(maxLag) + 1, 0.0);
    for (int lag = minLag; lag <= maxLag; ++lag) {
        double sum = 0.0;
        for (int i = 0; i < n; ++i)
            sum += double(samples[std::size_t(i)]) * samples[std::size_t(i + lag)];
        corr[std::size_t(lag)] = sum;
    }
    // The first peak that comes close to the best one is the fundamental's period (later
    // peaks are its multiples).
    double best = 0.0;
    for (int lag = minLag; lag <= maxLag; ++lag)
        best = std::max(best, corr[std::size_t(lag)]);
    for (int lag = minLag + 1; lag < maxLag; ++lag) {
        const double c = corr[std::size_t(lag)];
        if (c >= 0.9 * best && c >= corr[std::size_t(lag - 1)] && c >= corr[std::size_t(lag + 1)]) {
            // Parabolic interpolation around the peak.
            const double a = corr[std::size_t(lag - 1)];
            const double b = corr[std::size_t(lag + 1)];
            const double shift = 0.5 * (a - b) / (a - 2 * c + b);
            return rate / (lag + (std::isfinite(shift) ? shift : 0.0));
        }
    }
    return 0.0;
}

}  // namespace e2e
