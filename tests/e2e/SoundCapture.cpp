#include "SoundCapture.h"

#include <algorithm>

namespace e2e {

SoundCapture::SoundCapture() {
    if (Ok())
        thread_ = std::thread([this] { Run(); });
}

SoundCapture::~SoundCapture() {
    stop_ = true;
    if (thread_.joinable())
        thread_.join();
}

void SoundCapture::Run() {
    while (!stop_) {
        const std::vector<std::int16_t> chunk = monitor_.Read(kRate / 100);
        if (chunk.empty())
            return;
        std::lock_guard lock(mutex_);
        for (std::size_t i = 0; i < chunk.size(); i += 2)
            samples_.push_back(float(chunk[i]) / 32768.0f);
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

}  // namespace e2e
