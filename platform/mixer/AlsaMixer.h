#pragma once

#include <future>
#include <memory>
#include <string>

#include "platform/mixer/IMixer.h"

namespace platform::mixer {

// The ALSA simple mixer of the default device: its `Master` element, else `PCM`, else the
// first element with a playback volume. On a PulseAudio or PipeWire desktop the default
// device goes through the audio server, so this is the desktop's master volume.
// Each failure is written once to the debug output with what was missing.
class AlsaMixer final : public IMixer {
public:
    explicit AlsaMixer(std::string device = "default");
    ~AlsaMixer() override;
    AlsaMixer(const AlsaMixer&) = delete;
    AlsaMixer& operator=(const AlsaMixer&) = delete;

    // Starts opening the device on a thread of its own (through an audio server that takes
    // a while); the next Open() waits for that and returns its outcome.
    void OpenAhead();
    MixerResult Open() override;
    MixerResult GetPlaybackLine() override;
    MixerResult GetVolumeControl(VolumeControl& control) override;
    MixerResult GetValue(std::uint32_t& value) override;
    MixerResult SetValue(std::uint32_t value) override;

    // The element in use, for diagnostics; empty before GetPlaybackLine succeeds.
    const std::string& ElementName() const { return elementName_; }

private:
    struct Handle;
    struct Opened {
        MixerResult result = MixerResult::NoDevice;
        std::unique_ptr<Handle> handle;  // set when `result` is Ok
    };
    static Opened OpenDevice(const std::string& device);

    std::string device_;
    std::unique_ptr<Handle> handle_;
    std::future<Opened> ahead_;
    std::string elementName_;
};

}  // namespace platform::mixer
