#include "tests/platform/fluidsynth/AudioAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace tests::fluidsynth {

std::vector<float> LeftChannel(const std::vector<float>& stereo, std::size_t first,
                               std::size_t count) {
    std::vector<float> left;
    for (std::size_t i = first; i < first + count && 2 * i < stereo.size(); ++i)
        left.push_back(stereo[2 * i]);
    return left;
}

double Rms(const std::vector<float>& samples) {
    if (samples.empty())
        return 0;
    double sum = 0;
    for (float s : samples)
        sum += double(s) * s;
    return std::sqrt(sum / double(samples.size()));
}

double PitchHz(const std::vector<float>& samples, int sampleRate) {
    const auto minLag = std::size_t(sampleRate / 2000);
    const auto maxLag = std::size_t(sampleRate / 50);
    if (samples.size() < 2 * maxLag)
        return 0;
    const std::size_t window = samples.size() - maxLag;
    std::vector<double> r(maxLag + 2, 0.0);
    for (std::size_t lag = minLag; lag <= maxLag + 1 && lag < samples.size() - window; ++lag) {
        double sum = 0;
        for (std::size_t i = 0; i < window; ++i)
            sum += double(samples[i]) * samples[i + lag];
        r[lag] = sum;
    }
    const double best = *std::max_element(r.begin() + long(minLag), r.begin() + long(maxLag));
    if (best <= 0)
        return 0;
    for (std::size_t lag = minLag + 1; lag < maxLag; ++lag) {
        if (r[lag] >= 0.85 * best && r[lag] >= r[lag - 1] && r[lag] >= r[lag + 1]) {
            // Parabola through the peak and its neighbours.
            const double a = r[lag - 1], b = r[lag], c = r[lag + 1];
            const double denom = a - 2 * b + c;
            const double shift = denom != 0 ? 0.5 * (a - c) / denom : 0;
            return sampleRate / (double(lag) + shift);
        }
    }
    return 0;
}

std::vector<double> HarmonicProfile(const std::vector<float>& samples, int sampleRate,
                                    double fundamental, int count) {
    std::vector<double> profile;
    double total = 0;
    for (int h = 1; h <= count; ++h) {
        const double w = 2 * std::numbers::pi * fundamental * h / sampleRate;
        double re = 0, im = 0;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            re += samples[i] * std::cos(w * double(i));
            im += samples[i] * std::sin(w * double(i));
        }
        profile.push_back(std::hypot(re, im));
        total += profile.back();
    }
    for (double& p : profile)
        p = total > 0 ? p / total : 0;
    return profile;
}

int CountSilentGaps(const std::vector<std::int16_t>& samples, int channels, int minFrames) {
    const std::size_t frames = samples.size() / std::size_t(channels);
    auto silent = [&](std::size_t frame) {
        for (int c = 0; c < channels; ++c)
            if (samples[frame * std::size_t(channels) + std::size_t(c)] != 0)
                return false;
        return true;
    };
    std::size_t first = 0;
    while (first < frames && silent(first))
        ++first;
    int gaps = 0;
    std::size_t run = 0;
    for (std::size_t f = first; f < frames; ++f) {
        if (silent(f)) {
            ++run;
            continue;
        }
        gaps += run >= std::size_t(minFrames) ? 1 : 0;
        run = 0;
    }
    return gaps;  // a run still open at the end is trailing silence
}

}  // namespace tests::fluidsynth
