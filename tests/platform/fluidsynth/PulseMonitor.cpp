#include "tests/platform/fluidsynth/PulseMonitor.h"

#include <pulse/simple.h>

#include <cstdlib>

namespace tests::fluidsynth {

void PulseMonitor::Deleter::operator()(pa_simple* stream) const {
    pa_simple_free(stream);
}

PulseMonitor::PulseMonitor(int sampleRate, int fragmentFrames) : sampleRate_(sampleRate) {
    const pa_sample_spec sampleSpec{PA_SAMPLE_S16LE, std::uint32_t(sampleRate), 2};
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(-1);
    attr.prebuf = std::uint32_t(-1);
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(fragmentFrames * 4);
    int error = 0;
    stream_.reset(pa_simple_new(nullptr, "tunestead-test", PA_STREAM_RECORD, "@DEFAULT_MONITOR@",
                                "monitor", &sampleSpec, nullptr, &attr, &error));
}

PulseMonitor::~PulseMonitor() = default;

std::vector<std::int16_t> PulseMonitor::Read(std::size_t frames) {
    std::vector<std::int16_t> samples(frames * 2);
    int error = 0;
    if (!stream_ || pa_simple_read(stream_.get(), samples.data(),
                                   samples.size() * sizeof(std::int16_t), &error) < 0)
        return {};
    return samples;
}

bool PulseMonitor::ServerReachable() {
    if (std::getenv("PULSE_SERVER") == nullptr)
        return false;
    return PulseMonitor().Connected();
}

}  // namespace tests::fluidsynth
