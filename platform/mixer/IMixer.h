#pragma once

#include <cstdint>

namespace platform::mixer {

// Outcome of one mixer call. Failures name the step that found nothing.
enum class MixerResult {
    Ok,
    NoDevice,   // the default mixer device cannot be opened
    NoLine,     // it has no playback line
    NoControl,  // the line has no volume control (or the mixer is not open)
    Failed,     // reading or writing the value failed
};

// The master volume control of the playback line. Values run from 0 (silent) to `maximum`.
struct VolumeControl {
    std::uint32_t maximum = 0;
};

// The system's master volume: one mixer device, its playback line and that line's volume
// control, used in this order. GUI thread only.
class IMixer {
public:
    virtual ~IMixer() = default;

    // Opens the default mixer device.
    virtual MixerResult Open() = 0;
    // Finds the playback line of the open device.
    virtual MixerResult GetPlaybackLine() = 0;
    // Looks the line's volume control up; done again before every read and write.
    virtual MixerResult GetVolumeControl(VolumeControl& control) = 0;
    // Reads the current value (the first channel's).
    virtual MixerResult GetValue(std::uint32_t& value) = 0;
    // Writes `value` to every channel.
    virtual MixerResult SetValue(std::uint32_t value) = 0;
};

}  // namespace platform::mixer
