#include "platform/fluidsynth/SynthCore.h"

#include <fluidsynth.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "platform/fluidsynth/FluidFailure.h"
#include "platform/fluidsynth/SynthSequencer.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {
namespace {

bool FileReadable(const std::string& path) {
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return false;
    std::ifstream file(path, std::ios::binary);
    char byte = 0;
    return file.read(&byte, 1).good();
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
    // Small periods keep a note-on within about 10 ms of the audio server.
    fluid_settings_setint(settings, "audio.period-size", config.periodSize);
    fluid_settings_setint(settings, "audio.periods", config.periods);
    // Locking sample memory needs privileges a desktop user lacks; it only warns.
    fluid_settings_setint(settings, "synth.lock-memory", 0);

    core->synth_.reset(new_fluid_synth(settings));
    if (!core->synth_) {
        *result = Fail(FluidFailure::NoSynth, "cannot create the FluidSynth synthesizer");
        return nullptr;
    }
    double rate = config.sampleRate;
    fluid_settings_getnum(settings, "synth.sample-rate", &rate);
    core->sampleRate_ = static_cast<int>(rate);
    core->midiChannels_ = fluid_synth_count_midi_channels(core->synth_.get());
    fluid_settings_getint(settings, "audio.period-size", &core->periodSize_);
    fluid_settings_getint(settings, "audio.periods", &core->periods_);
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
    if (!FileReadable(path))
        return Fail(FluidFailure::SoundFontOpen, "cannot open the SoundFont " + path);
    // Resetting the presets makes programs chosen before the load (channel 0's included)
    // take their instruments from this SoundFont from the first note on.
    const int id = fluid_synth_sfload(synth_.get(), path.c_str(), 1);
    if (id == FLUID_FAILED)
        return Fail(FluidFailure::SoundFontFormat, "cannot load the SoundFont " + path);
    soundFontId_ = id;
    return music::S_OK;
}

music::HRESULT SynthCore::StartAudio(const std::vector<std::string>& drivers) {
    std::lock_guard lock(driverMutex_);
    if (driver_)
        return music::S_OK;
    std::string tried;
    for (const std::string& name : drivers) {
        // JACK would otherwise start a server of its own when none runs: seconds of delay
        // and a stray jackd on a machine that has no JACK. A value set by the user wins.
        if (name == "jack")
            setenv("JACK_NO_START_SERVER", "1", 0);
        // FluidSynth would try JACK first on its own; the driver is always named.
        if (fluid_settings_setstr(settings_.get(), "audio.driver", name.c_str()) == FLUID_OK) {
            driver_.reset(new_fluid_audio_driver(settings_.get(), synth_.get()));
            if (driver_)
                return music::S_OK;
        }
        tried += (tried.empty() ? "" : ", ") + name;
    }
    if (drivers.empty())
        return music::S_OK;
    return Fail(FluidFailure::NoDriver, "no audio output could be opened (tried " + tried + ")");
}

void SynthCore::StopAudio() {
    std::lock_guard lock(driverMutex_);
    driver_.reset();
    // A later activation starts from silence, not from the notes held when this one ended.
    if (synth_)
        fluid_synth_all_sounds_off(synth_.get(), -1);
}

bool SynthCore::AudioRunning() const {
    std::lock_guard lock(driverMutex_);
    return driver_ != nullptr;
}

std::vector<float> SynthCore::Render(std::size_t frames) {
    std::lock_guard lock(driverMutex_);
    if (driver_ || frames == 0)
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
