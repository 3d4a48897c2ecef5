#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fluidsynth/AudioOutput.h"
#include "platform/music/Types.h"

// FluidSynth's opaque types, declared here so that users of this header need no
// <fluidsynth.h>.
struct _fluid_hashtable_t;
struct _fluid_synth_t;
struct _fluid_audio_driver_t;

namespace platform::fluidsynth {

class PatchMap;
class SynthInbox;
class SynthSequencer;

// The FluidSynth objects of one port: settings, synthesizer, audio driver and the loaded
// SoundFont. Shared (shared_ptr) by the port, its effects control and an offline renderer,
// so none of them outlives the synth it talks to. FluidSynth's API is thread-safe; the driver
// state is guarded by one mutex.
//
// The "pipewire" and "pulseaudio" outputs are our own (PipeWireOutput, PulseOutput: a short
// queue of our size, real-time rendering, paused while idle, reconnected when the server comes
// back); other names are FluidSynth's drivers. "pipewire" opens only where a PipeWire server
// runs, so the list {"pipewire", "pulseaudio", ...} plays natively on PipeWire and through
// PulseAudio elsewhere.
class SynthCore {
public:
    struct Config {
        int sampleRate = 44100;
        int voices = 256;
        int midiChannels = 16;
        int periodSize = 64;
        int periods = 8;
        int normalPeriods = 8;  // the queue where audio threads cannot run real-time
        bool adjustLatency = false;
        double idleSeconds = 1.0;
        double pipeWireIdleSeconds = 5.0;
        bool reverb = true;
        bool chorus = true;

        bool operator==(const Config&) const = default;
    };

    // Creates settings and synthesizer; null with `*result` set on failure.
    static std::shared_ptr<SynthCore> Create(const Config& config, music::HRESULT* result);
    ~SynthCore();
    SynthCore(const SynthCore&) = delete;
    SynthCore& operator=(const SynthCore&) = delete;

    // Loads the SoundFont once; later calls return S_OK at once.
    music::HRESULT LoadSoundFont(const std::string& path);
    // Starts the first driver of `drivers` that opens (tried in order); S_OK if one runs
    // already. An empty list starts nothing: the synth is then rendered with Render().
    // On failure the error info names each driver tried and why it did not open.
    music::HRESULT StartAudio(const std::vector<std::string>& drivers);
    // Plays one channel message (see PlaySynthEvent). While one of our own outputs renders,
    // the message goes through the inbox and plays just before the next render, so that the
    // rendering thread never waits for the sender; otherwise it plays at once. Any thread;
    // `patches` must stay alive until StopAudio().
    void Play(PatchMap* patches, music::DWORD channelGroups, music::DWORD channelGroup,
              const music::BYTE* bytes, music::DWORD length);
    // After an event reached the synth: an idle output resumes. Any thread.
    void Wake();
    AudioOutputStats OutputStats() const;
    // Stops the audio driver (if any), plays what is still queued for it (program changes
    // and controllers stay set) and silences every voice.
    void StopAudio();
    bool AudioRunning() const;

    // Renders `frames` stereo frames, interleaved left/right. Refused (empty result) while an
    // audio driver plays the synth: the driver's thread owns the rendering then.
    std::vector<float> Render(std::size_t frames);

    void SetEffects(music::DWORD effects);
    music::DWORD Effects() const { return effects_.load(); }

    _fluid_synth_t* Synth() const { return synth_.get(); }
    // The sequencer on this synth (segment playback, the audio clock); made on first use,
    // which is where its audio time starts.
    // Any thread.
    SynthSequencer& Sequencer();
    int SampleRate() const { return sampleRate_; }
    int MidiChannels() const { return midiChannels_; }
    int PeriodSize() const { return periodSize_; }
    int Periods() const { return periods_; }

private:
    struct SettingsDeleter {
        void operator()(_fluid_hashtable_t* settings) const;
    };
    struct SynthDeleter {
        void operator()(_fluid_synth_t* synth) const;
    };
    struct DriverDeleter {
        void operator()(_fluid_audio_driver_t* driver) const;
    };

    SynthCore() = default;

    // Destroyed bottom-up: the driver stops before the synth goes, the settings go last.
    std::unique_ptr<_fluid_hashtable_t, SettingsDeleter> settings_;
    std::unique_ptr<_fluid_synth_t, SynthDeleter> synth_;
    std::unique_ptr<SynthInbox> inbox_;
    mutable std::mutex driverMutex_;
    std::unique_ptr<_fluid_audio_driver_t, DriverDeleter> driver_;
    std::unique_ptr<AudioOutput> output_;
    int soundFontId_ = -1;
    int sampleRate_ = 44100;
    int midiChannels_ = 16;
    int periodSize_ = 64;
    int periods_ = 8;
    int normalPeriods_ = 8;
    bool adjustLatency_ = false;
    double idleSeconds_ = 1.0;
    double pipeWireIdleSeconds_ = 5.0;
    std::atomic<music::DWORD> effects_{0};
    // Last member: destroyed before the synth it is registered with.
    std::mutex sequencerMutex_;
    std::unique_ptr<SynthSequencer> sequencer_;
};

}  // namespace platform::fluidsynth
