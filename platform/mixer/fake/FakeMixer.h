#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "platform/mixer/IMixer.h"

namespace platform::mixer::fake {

// A mixer in memory for tests and headless runs: one control with a settable maximum and
// value, a step that can be made to fail, and every value written kept in order.
class FakeMixer final : public IMixer {
public:
    enum class Step { Open, Line, Control };

    explicit FakeMixer(std::uint32_t maximum = 65535, std::uint32_t value = 65535)
        : maximum_(maximum), value_(value) {}

    void FailAt(Step step) { failAt_ = step; }
    std::uint32_t Value() const { return value_; }
    const std::vector<std::uint32_t>& Written() const { return written_; }
    int ControlLookups() const { return lookups_; }

    MixerResult Open() override;
    MixerResult GetPlaybackLine() override;
    MixerResult GetVolumeControl(VolumeControl& control) override;
    MixerResult GetValue(std::uint32_t& value) override;
    MixerResult SetValue(std::uint32_t value) override;

private:
    std::uint32_t maximum_;
    std::uint32_t value_;
    std::optional<Step> failAt_;
    bool open_ = false;
    bool line_ = false;
    int lookups_ = 0;
    std::vector<std::uint32_t> written_;
};

}  // namespace platform::mixer::fake
