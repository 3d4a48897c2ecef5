#include "platform/fluidsynth/SynthCore.h"

#include <fluidsynth.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/fluidsynth/FluidFailure.h"
#include "platform/fluidsynth/PipeWireOutput.h"
#include "platform/fluidsynth/PulseOutput.h"
#include "platform/fluidsynth/SynthEvent.h"
#include "platform/fluidsynth/SynthInbox.h"
#include "platform/fluidsynth/SynthSequencer.h"
#include "platform/log/DebugOutput.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {
namespace {

// Why `path` cannot be read as a file, in words; empty when it can.
std::string Unreadable(const std::string& path) {
    if (path.empty())
        return "no file name given";
    std::error_code error;
    const auto status = std::filesystem::status(path, error);
    if (error)
        return error.message();
    if (!std::filesystem::is_regular_file(status))
        return std::filesystem::is_directory(status) ? "it is a directory" : "not a regular file";
    std::ifstream file(path, std::ios::binary);
    char byte = 0;
    if (!file.read(&byte, 1).good())
        return "it cannot be read, or is empty";
    return {};
}

std::string DriverLabel(const std::string& name) {
    if (name == "pipewire")
        return "PipeWire";
    if (name == "pulseaudio")
        return "PulseAudio";
    if (name == "alsa")
        return "ALSA";
    if (name == "jack")
        return "JACK";
    return name.empty() ? "(unnamed driver)" : name;
}

}  // namespace

void SynthCore::SettingsDeleter::operator()(fluid_settings_t* settings) const {
    delete_fluid_settings(settings);
}

void SynthCore::SynthDeleter::operator()(fluid_synth_t* synth) const {
    delete_fluid_synth(synth);
}

void SynthCore::DriverDeleter::operator()(fluid_audio_driver_t* driver) const {
    delete_fluid_audio_driver(driver);
}

std::shared_ptr<SynthCore> SynthCore::Create(const Config& config, music::HRESULT* result) {
    InstallFluidLogHandler();
    std::shared_ptr<SynthCore> core(new SynthCore());
    core->settings_.reset(new_fluid_settings());
    if (!core->settings_) {
        *result = Fail(FluidFailure::NoSettings, "cannot create FluidSynth settings");
        return nullptr;
    }
    fluid_settings_t* settings = core->settings_.get();
    fluid_settings_setnum(settings, "synth.sample-rate", config.sampleRate);
    fluid_settings_setint(settings, "synth.polyphony", config.voices);
    // FluidSynth's default gain of 0.2 leaves one note near -30 dBFS; 0.6 is clearly audible
    // and keeps an ordinary chord below full scale.
    fluid_settings_setnum(settings, "synth.gain", 0.6);
    fluid_settings_setint(settings, "synth.midi-channels", config.midiChannels);
    fluid_settings_setint(settings, "synth.reverb.active", config.reverb ? 1 : 0);
    fluid_settings_setint(settings, "synth.chorus.active", config.chorus ? 1 : 0);
    // FluidSynth's own drivers (the fallbacks) read the period size and count from here.
    fluid_settings_setint(settings, "audio.period-size", config.periodSize);
    fluid_settings_setint(settings, "audio.periods", config.periods);
    // Locking sample memory needs privileges a desktop user lacks; it only warns.
    fluid_settings_setint(settings, "synth.lock-memory", 0);

    core->synth_.reset(new_fluid_synth(settings));
    if (!core->synth_) {
        *result = Fail(FluidFailure::NoSynth, "cannot create the FluidSynth synthesizer");
        return nullptr;
    }
    core->inbox_ = std::make_unique<SynthInbox>(core->synth_.get());
    double rate = config.sampleRate;
    fluid_settings_getnum(settings, "synth.sample-rate", &rate);
    core->sampleRate_ = static_cast<int>(rate);
    core->midiChannels_ = fluid_synth_count_midi_channels(core->synth_.get());
    fluid_settings_getint(settings, "audio.period-size", &core->periodSize_);
    fluid_settings_getint(settings, "audio.periods", &core->periods_);
    core->normalPeriods_ = std::max(core->periods_, config.normalPeriods);
    core->adjustLatency_ = config.adjustLatency;
    core->idleSeconds_ = config.idleSeconds;
    core->pipeWireIdleSeconds_ = config.pipeWireIdleSeconds;
    core->effects_ = (config.reverb ? music::DMUS_EFFECT_REVERB : 0) |
                     (config.chorus ? music::DMUS_EFFECT_CHORUS : 0);
    *result = music::S_OK;
    return core;
}

SynthCore::~SynthCore() {
    StopAudio();
}

SynthSequencer& SynthCore::Sequencer() {
    std::lock_guard lock(sequencerMutex_);
    if (!sequencer_)
        sequencer_ = std::make_unique<SynthSequencer>(synth_.get());
    return *sequencer_;
}

music::HRESULT SynthCore::LoadSoundFont(const std::string& path) {
    if (soundFontId_ != FLUID_FAILED)
        return music::S_OK;
    if (const std::string why = Unreadable(path); !why.empty())
        return Fail(FluidFailure::SoundFontOpen,
                    "cannot open the SoundFont \"" + path + "\": " + why);
    // Resetting the presets makes programs chosen before the load (channel 0's included)
    // take their instruments from this SoundFont from the first note on.
    const int id = fluid_synth_sfload(synth_.get(), path.c_str(), 1);
    if (id == FLUID_FAILED)
        return Fail(FluidFailure::SoundFontFormat,
                    "the file \"" + path +
                        "\" is not a SoundFont that can be loaded (damaged, or another format)");
    soundFontId_ = id;
    return music::S_OK;
}

music::HRESULT SynthCore::StartAudio(const std::vector<std::string>& drivers) {
    std::lock_guard lock(driverMutex_);
    if (driver_ || output_)
        return music::S_OK;
    std::string causes;
    for (const std::string& name : drivers) {
        std::string cause;
        if (name == "pipewire") {
            PipeWireOutput::Config config;
            config.sampleRate = sampleRate_;
            config.periodSize = periodSize_;
            config.normalPeriods = std::max(periods_, normalPeriods_);
            config.idleSeconds = pipeWireIdleSeconds_;
            output_ = PipeWireOutput::Open(config, synth_.get(), inbox_.get(), &cause);
            if (output_) {
                OutputDebugString(
                    "Built-in synthesizer: playing through a native PipeWire stream "
                    "asking for " +
                    std::to_string(periodSize_) + " frames at " + std::to_string(sampleRate_) +
                    " Hz");
                return music::S_OK;
            }
        } else if (name == "pulseaudio") {
            PulseOutput::Config config;
            config.sampleRate = sampleRate_;
            config.periodSize = periodSize_;
            config.periods = periods_;
            config.normalPeriods = normalPeriods_;
            config.adjustLatency = adjustLatency_;
            config.idleSeconds = idleSeconds_;
            output_ = PulseOutput::Open(config, synth_.get(), inbox_.get(), &cause);
            if (output_) {
                const AudioOutputStats stats = output_->Stats();
                OutputDebugString("Built-in synthesizer: playing through PulseAudio, " +
                                  std::to_string(stats.targetFrames) + " frames queued at " +
                                  std::to_string(sampleRate_) + " Hz");
                return music::S_OK;
            }
        } else {
            // JACK would otherwise start a server of its own when none runs: seconds of delay
            // and a stray jackd on a machine that has no JACK. A value set by the user wins.
            if (name == "jack")
                setenv("JACK_NO_START_SERVER", "1", 0);
            // FluidSynth would try JACK first on its own; the driver is always named.
            TakeLastFluidError();
            if (fluid_settings_setstr(settings_.get(), "audio.driver", name.c_str()) == FLUID_OK) {
                driver_.reset(new_fluid_audio_driver(settings_.get(), synth_.get()));
                if (driver_) {
                    OutputDebugString("Built-in synthesizer: playing through FluidSynth's " +
                                      DriverLabel(name) + " driver");
                    return music::S_OK;
                }
            }
            cause = TakeLastFluidError();
            while (!cause.empty() && (cause.back() == '.' || cause.back() == ' '))
                cause.pop_back();
            if (cause.empty())
                cause = "cannot be opened";
        }
        causes += "\n" + DriverLabel(name) + ": " + cause;
    }
    if (drivers.empty())
        return music::S_OK;
    return Fail(FluidFailure::NoDriver, "no audio output could be opened:" + causes);
}

void SynthCore::Play(PatchMap* patches, music::DWORD channelGroups, music::DWORD channelGroup,
                     const music::BYTE* bytes, music::DWORD length) {
    {
        std::lock_guard lock(driverMutex_);
        if (output_) {
            inbox_->Post(patches, channelGroups, channelGroup, bytes, length);
            return;
        }
    }
    PlaySynthEvent(synth_.get(), patches, channelGroups, channelGroup, bytes, length);
}

void SynthCore::Wake() {
    std::lock_guard lock(driverMutex_);
    if (output_)
        output_->Wake();
}

AudioOutputStats SynthCore::OutputStats() const {
    std::lock_guard lock(driverMutex_);
    if (output_)
        return output_->Stats();
    AudioOutputStats stats;
    stats.running = stats.connected = driver_ != nullptr;
    return stats;
}

void SynthCore::StopAudio() {
    std::lock_guard lock(driverMutex_);
    driver_.reset();
    output_.reset();
    if (inbox_)
        inbox_->Flush();
    // A later activation starts from silence, not from the notes held when this one ended.
    if (synth_)
        fluid_synth_all_sounds_off(synth_.get(), -1);
}

bool SynthCore::AudioRunning() const {
    std::lock_guard lock(driverMutex_);
    return driver_ != nullptr || output_ != nullptr;
}

std::vector<float> SynthCore::Render(std::size_t frames) {
    std::lock_guard lock(driverMutex_);
    if (driver_ || output_ || frames == 0)
        return {};
    std::vector<float> out(frames * 2);
    // FluidSynth renders at most an int's worth of frames per call.
    constexpr std::size_t kChunk = 4096;
    for (std::size_t done = 0; done < frames; done += kChunk) {
        const int n = static_cast<int>(std::min(kChunk, frames - done));
        float* base = out.data() + done * 2;
        fluid_synth_write_float(synth_.get(), n, base, 0, 2, base, 1, 2);
    }
    return out;
}

void SynthCore::SetEffects(music::DWORD effects) {
    effects &= music::DMUS_EFFECT_REVERB | music::DMUS_EFFECT_CHORUS;
    // -1: every effects group of the synth.
    fluid_synth_reverb_on(synth_.get(), -1, (effects & music::DMUS_EFFECT_REVERB) ? 1 : 0);
    fluid_synth_chorus_on(synth_.get(), -1, (effects & music::DMUS_EFFECT_CHORUS) ? 1 : 0);
    effects_ = effects;
}

}  // namespace platform::fluidsynth
