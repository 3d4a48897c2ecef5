#pragma once

// Measurements on rendered audio for the synthesizer tests: level and pitch of one channel
// taken from interleaved stereo.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tests::fluidsynth {

// The left channel of interleaved stereo frames [first, first + count).
std::vector<float> LeftChannel(const std::vector<float>& stereo, std::size_t first,
                               std::size_t count);

double Rms(const std::vector<float>& samples);

// Fundamental frequency by autocorrelation: the shortest lag whose correlation comes close to
// the best one, refined between samples. Robust to a strong second harmonic, unlike an FFT
// peak. 0 when the signal has no clear period between 50 and 2000 Hz.
double PitchHz(const std::vector<float>& samples, int sampleRate);

// Magnitudes of the first `count` harmonics of `fundamental`, scaled to sum to 1: a crude
// fingerprint of the timbre.
std::vector<double> HarmonicProfile(const std::vector<float>& samples, int sampleRate,
                                    double fundamental, int count);

// Runs of at least `minFrames` frames of exact digital silence (every channel 0) strictly
// inside the sounding stretch of interleaved 16-bit audio with `channels` channels: the
// gaps an underrun leaves in a held note. Silence before the first and after the last
// sounding frame is not counted.
int CountSilentGaps(const std::vector<std::int16_t>& samples, int channels, int minFrames);

}  // namespace tests::fluidsynth
