#include "platform/mixer/fake/FakeMixer.h"

namespace platform::mixer::fake {

MixerResult FakeMixer::Open() {
    open_ = failAt_ != Step::Open;
    return open_ ? MixerResult::Ok : MixerResult::NoDevice;
}

MixerResult FakeMixer::GetPlaybackLine() {
    line_ = open_ && failAt_ != Step::Line;
    return line_ ? MixerResult::Ok : MixerResult::NoLine;
}

MixerResult FakeMixer::GetVolumeControl(VolumeControl& control) {
    ++lookups_;
    if (!line_ || failAt_ == Step::Control)
        return MixerResult::NoControl;
    control.maximum = maximum_;
    return MixerResult::Ok;
}

MixerResult FakeMixer::GetValue(std::uint32_t& value) {
    if (!line_)
        return MixerResult::NoControl;
    value = value_;
    return MixerResult::Ok;
}

MixerResult FakeMixer::SetValue(std::uint32_t value) {
    if (!line_)
        return MixerResult::NoControl;
    value_ = value;
    written_.push_back(value);
    return MixerResult::Ok;
}

}  // namespace platform::mixer::fake
