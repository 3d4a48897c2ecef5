#include "platform/fluidsynth/FluidSynthBackend.h"

#include <fluidsynth.h>

#include <algorithm>

#include "platform/fluidsynth/AudioClock.h"
#include "platform/fluidsynth/FluidFailure.h"
#include "platform/fluidsynth/FluidSynthPort.h"
#include "platform/fluidsynth/Renderer.h"
#include "platform/fluidsynth/SynthCore.h"
#include "platform/fluidsynth/SynthWarmUp.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::DWORD;
using music::HRESULT;

namespace {

// No fixed sample memory: SoundFonts live in system memory. A figure that any General MIDI
// SoundFont fits in.
constexpr DWORD kMemorySize = 256u * 1024u * 1024u;

DWORD Granted(DWORD flags, DWORD flag, DWORD asked, DWORD fallback, DWORD low, DWORD high) {
    if ((flags & flag) == 0 || asked == 0)
        return fallback;
    return std::clamp(asked, low, high);
}

}  // namespace

FluidSynthBackend::FluidSynthBackend() : FluidSynthBackend(Options{}) {}

FluidSynthBackend::FluidSynthBackend(Options options)
    : options_(std::move(options)),
      limits_(ReadLimits()),
      audioClock_(std::make_shared<AudioClock>()) {}

FluidSynthBackend::~FluidSynthBackend() = default;

FluidSynthBackend::Limits FluidSynthBackend::ReadLimits() {
    InstallFluidLogHandler();
    Limits limits;
    std::unique_ptr<fluid_settings_t, decltype(&delete_fluid_settings)> settings(
        new_fluid_settings(), &delete_fluid_settings);
    if (!settings)
        return limits;
    int value = 0;
    int low = 0;
    int high = 0;
    if (fluid_settings_getint_default(settings.get(), "synth.polyphony", &value) == FLUID_OK)
        limits.maxVoices = value;
    if (fluid_settings_getint_range(settings.get(), "synth.midi-channels", &low, &high) == FLUID_OK)
        limits.maxChannelGroups = std::max(1, high / 16);
    // FluidSynth counts stereo pairs; the port counts audio channels.
    if (fluid_settings_getint_default(settings.get(), "synth.audio-channels", &value) == FLUID_OK)
        limits.maxAudioChannels = 2 * value;
    double lowRate = 0;
    double highRate = 0;
    if (fluid_settings_getnum_range(settings.get(), "synth.sample-rate", &lowRate, &highRate) ==
        FLUID_OK) {
        limits.minSampleRate = static_cast<int>(lowRate);
        limits.maxSampleRate = static_cast<int>(highRate);
    }
    return limits;
}

music::DMUS_PORTCAPS FluidSynthBackend::Caps(const Limits& limits) {
    music::DMUS_PORTCAPS caps;
    caps.dwSize = sizeof caps;
    caps.dwFlags = music::DMUS_PC_DLS | music::DMUS_PC_DLS2 | music::DMUS_PC_SOFTWARESYNTH;
    caps.guidPort = kPortGuid;
    caps.dwClass = music::DMUS_PC_OUTPUTCLASS;
    caps.dwType = music::DMUS_PORT_USER_MODE_SYNTH;
    caps.dwMemorySize = kMemorySize;
    caps.dwMaxChannelGroups = static_cast<DWORD>(limits.maxChannelGroups);
    caps.dwMaxVoices = static_cast<DWORD>(limits.maxVoices);
    caps.dwMaxAudioChannels = static_cast<DWORD>(limits.maxAudioChannels);
    caps.dwEffectFlags = music::DMUS_EFFECT_REVERB | music::DMUS_EFFECT_CHORUS;
    static_assert(sizeof kDescription <= caps.wszDescription.size());
    std::copy(std::begin(kDescription), std::end(kDescription), caps.wszDescription.begin());
    return caps;
}

void FluidSynthBackend::ListPorts(std::vector<music::DMUS_PORTCAPS>& ports) {
    ports.push_back(Caps());
}

void FluidSynthBackend::ListClocks(std::vector<music::ClockEntry>& clocks) {
    clocks.push_back(audioClock_->Entry(audioClock_));
}

SynthCore::Config FluidSynthBackend::PortConfig(const Options& options, const Limits& limits,
                                                music::DMUS_PORTPARAMS8& params) {
    const music::DMUS_PORTCAPS caps = Caps(limits);
    const DWORD flags = params.dwValidParams;
    const DWORD voices = Granted(flags, music::DMUS_PORTPARAMS_VOICES, params.dwVoices,
                                 caps.dwMaxVoices, 1, caps.dwMaxVoices);
    const DWORD groups = Granted(flags, music::DMUS_PORTPARAMS_CHANNELGROUPS,
                                 params.dwChannelGroups, 1, 1, caps.dwMaxChannelGroups);
    const DWORD rate =
        Granted(flags, music::DMUS_PORTPARAMS_SAMPLERATE, params.dwSampleRate, kDefaultSampleRate,
                DWORD(limits.minSampleRate), DWORD(limits.maxSampleRate));
    // Both effects are on unless the caller says which it wants.
    const DWORD effects = (flags & music::DMUS_PORTPARAMS_EFFECTS)
                              ? params.dwEffectFlags & caps.dwEffectFlags
                              : caps.dwEffectFlags;

    SynthCore::Config config;
    config.sampleRate = static_cast<int>(rate);
    config.voices = static_cast<int>(voices);
    // Every channel group the port may be set to later exists in the synth from the start.
    config.midiChannels = 16 * limits.maxChannelGroups;
    config.periodSize = options.periodSize;
    config.periods = options.periods;
    config.normalPeriods = options.normalPeriods;
    config.adjustLatency = options.adjustLatency;
    config.idleSeconds = options.idleSeconds;
    config.pipeWireIdleSeconds = options.pipeWireIdleSeconds;
    config.reverb = (effects & music::DMUS_EFFECT_REVERB) != 0;
    config.chorus = (effects & music::DMUS_EFFECT_CHORUS) != 0;

    params.dwValidParams |= music::DMUS_PORTPARAMS_VOICES | music::DMUS_PORTPARAMS_CHANNELGROUPS |
                            music::DMUS_PORTPARAMS_AUDIOCHANNELS |
                            music::DMUS_PORTPARAMS_SAMPLERATE | music::DMUS_PORTPARAMS_EFFECTS;
    params.dwVoices = voices;
    params.dwChannelGroups = groups;
    params.dwAudioChannels = caps.dwMaxAudioChannels;
    params.dwSampleRate = rate;
    params.dwEffectFlags = effects;
    return config;
}

std::shared_ptr<SynthWarmUp> FluidSynthBackend::DefaultPortWarmUp(const Options& options) {
    music::DMUS_PORTPARAMS8 params{};
    params.dwSize = sizeof params;
    return std::make_shared<SynthWarmUp>(PortConfig(options, ReadLimits(), params),
                                         options.soundFontPath);
}

HRESULT FluidSynthBackend::CreatePort(const music::GUID& portGuid, music::DMUS_PORTPARAMS8* params,
                                      std::unique_ptr<music::IMusicPort>* port) {
    if (params == nullptr || port == nullptr)
        return music::E_POINTER;
    if (portGuid != kPortGuid || params->dwSize != sizeof(music::DMUS_PORTPARAMS8))
        return music::E_INVALIDARG;

    const SynthCore::Config config = PortConfig(options_, limits_, *params);
    const DWORD groups = params->dwChannelGroups;
    std::shared_ptr<SynthCore> core =
        options_.warmUp ? options_.warmUp->Take(config, options_.soundFontPath) : nullptr;
    HRESULT hr = music::S_OK;
    if (!core)
        core = SynthCore::Create(config, &hr);
    if (!core)
        return hr;

    params->dwSampleRate = static_cast<DWORD>(core->SampleRate());

    {
        std::lock_guard lock(lastMutex_);
        lastCore_ = core;
    }
    audioClock_->Follow(core);
    FluidSynthPort::Setup setup{Caps(), options_.audioDrivers, options_.soundFontPath, groups};
    *port = std::make_unique<FluidSynthPort>(std::move(setup), std::move(core));
    return music::S_OK;
}

std::shared_ptr<Renderer> FluidSynthBackend::LastPortRenderer() const {
    std::lock_guard lock(lastMutex_);
    std::shared_ptr<SynthCore> core = lastCore_.lock();
    return core ? std::make_shared<Renderer>(std::move(core)) : nullptr;
}

AudioOutputStats FluidSynthBackend::LastPortOutputStats() const {
    std::lock_guard lock(lastMutex_);
    std::shared_ptr<SynthCore> core = lastCore_.lock();
    return core ? core->OutputStats() : AudioOutputStats{};
}

}  // namespace platform::fluidsynth
