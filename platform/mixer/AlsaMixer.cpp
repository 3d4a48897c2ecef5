#include "platform/mixer/AlsaMixer.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <string_view>

#include "platform/log/DebugOutput.h"

namespace platform::mixer {

namespace {

void Report(std::string_view what, int error = 0) {
    std::string line = "mixer: ";
    line += what;
    if (error != 0) {
        line += ": ";
        line += snd_strerror(error);
    }
    OutputDebugString(line);
}

bool HasPlaybackVolume(snd_mixer_elem_t* elem) {
    return snd_mixer_selem_is_active(elem) != 0 && snd_mixer_selem_has_playback_volume(elem) != 0;
}

}  // namespace

struct AlsaMixer::Handle {
    snd_mixer_t* mixer = nullptr;
    snd_mixer_elem_t* elem = nullptr;  // owned by `mixer`
    long minimum = 0;
    long maximum = 0;

    ~Handle() {
        if (mixer != nullptr)
            snd_mixer_close(mixer);
    }
};

AlsaMixer::AlsaMixer(std::string device) : device_(std::move(device)) {}

AlsaMixer::~AlsaMixer() {
    if (ahead_.valid())
        ahead_.wait();
}

AlsaMixer::Opened AlsaMixer::OpenDevice(const std::string& device) {
    auto handle = std::make_unique<Handle>();
    if (const int error = snd_mixer_open(&handle->mixer, 0); error < 0) {
        handle->mixer = nullptr;
        Report("cannot create an ALSA mixer", error);
        return {};
    }
    if (const int error = snd_mixer_attach(handle->mixer, device.c_str()); error < 0) {
        Report("no ALSA device '" + device + "' to attach to", error);
        return {};
    }
    if (const int error = snd_mixer_selem_register(handle->mixer, nullptr, nullptr); error < 0) {
        Report("cannot register the simple mixer on '" + device + "'", error);
        return {};
    }
    if (const int error = snd_mixer_load(handle->mixer); error < 0) {
        Report("cannot load the mixer elements of '" + device + "'", error);
        return {};
    }
    return {MixerResult::Ok, std::move(handle)};
}

void AlsaMixer::OpenAhead() {
    if (!ahead_.valid())
        ahead_ = std::async(std::launch::async, &AlsaMixer::OpenDevice, device_);
}

MixerResult AlsaMixer::Open() {
    Opened opened = ahead_.valid() ? ahead_.get() : OpenDevice(device_);
    if (opened.result == MixerResult::Ok)
        handle_ = std::move(opened.handle);
    return opened.result;
}

MixerResult AlsaMixer::GetPlaybackLine() {
    if (!handle_) {
        Report("no playback line: the mixer is not open");
        return MixerResult::NoLine;
    }
    snd_mixer_elem_t* found = nullptr;
    for (const char* name : {"Master", "PCM"}) {
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, name);
        snd_mixer_elem_t* elem = snd_mixer_find_selem(handle_->mixer, id);
        if (elem != nullptr && HasPlaybackVolume(elem)) {
            found = elem;
            break;
        }
    }
    for (snd_mixer_elem_t* elem = snd_mixer_first_elem(handle_->mixer);
         found == nullptr && elem != nullptr; elem = snd_mixer_elem_next(elem)) {
        if (HasPlaybackVolume(elem))
            found = elem;
    }
    if (found == nullptr) {
        Report("ALSA device '" + device_ + "' has no Master, PCM or other playback volume");
        return MixerResult::NoLine;
    }
    handle_->elem = found;
    elementName_ = snd_mixer_selem_get_name(found);
    OutputDebugString("mixer: master volume is '" + elementName_ + "' of '" + device_ + "'");
    return MixerResult::Ok;
}

MixerResult AlsaMixer::GetVolumeControl(VolumeControl& control) {
    if (!handle_ || handle_->elem == nullptr) {
        Report("no volume control: no playback line");
        return MixerResult::NoControl;
    }
    long minimum = 0;
    long maximum = 0;
    if (const int error =
            snd_mixer_selem_get_playback_volume_range(handle_->elem, &minimum, &maximum);
        error < 0 || maximum < minimum) {
        Report("no volume range on '" + elementName_ + "'", error);
        return MixerResult::NoControl;
    }
    handle_->minimum = minimum;
    handle_->maximum = maximum;
    // The control's own minimum is the bottom of our scale: values are offsets from it.
    control.maximum = std::uint32_t(maximum - minimum);
    return MixerResult::Ok;
}

MixerResult AlsaMixer::GetValue(std::uint32_t& value) {
    if (!handle_ || handle_->elem == nullptr)
        return MixerResult::NoControl;
    // Take in changes other programs made since the mixer was loaded.
    snd_mixer_handle_events(handle_->mixer);
    long raw = 0;
    if (const int error =
            snd_mixer_selem_get_playback_volume(handle_->elem, SND_MIXER_SCHN_FRONT_LEFT, &raw);
        error < 0) {
        Report("cannot read '" + elementName_ + "'", error);
        return MixerResult::Failed;
    }
    value = std::uint32_t(std::clamp(raw, handle_->minimum, handle_->maximum) - handle_->minimum);
    return MixerResult::Ok;
}

MixerResult AlsaMixer::SetValue(std::uint32_t value) {
    if (!handle_ || handle_->elem == nullptr)
        return MixerResult::NoControl;
    const long raw = std::min(handle_->minimum + long(value), handle_->maximum);
    if (const int error = snd_mixer_selem_set_playback_volume_all(handle_->elem, raw); error < 0) {
        Report("cannot write '" + elementName_ + "'", error);
        return MixerResult::Failed;
    }
    return MixerResult::Ok;
}

}  // namespace platform::mixer
