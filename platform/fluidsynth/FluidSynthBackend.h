#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/fluidsynth/SynthCore.h"
#include "platform/music/IPortBackend.h"

namespace platform::fluidsynth {

class AudioClock;
class Renderer;
class SynthCore;
class SynthWarmUp;
struct AudioOutputStats;

// The built-in software synthesizer: one output port played by FluidSynth with a General
// MIDI SoundFont, its sound going out through one of FluidSynth's audio drivers.
//
// For tests and tools the backend runs offline: with an empty driver list, activation loads
// the SoundFont and opens no audio output, and LastPortRenderer() renders the synth of the
// most recently created port on demand:
//
//     FluidSynthBackend::Options options;
//     options.audioDrivers.clear();
//     FluidSynthBackend backend(options);
//     ... CreatePort, Activate(TRUE), PlayBuffer ...
//     std::vector<float> stereo = backend.LastPortRenderer()->Render(44100);
//
// Used on one thread (the music object's).
class FluidSynthBackend final : public music::IPortBackend {
public:
    struct Options {
        // FluidSynth audio drivers, tried in this order at activation; empty: none (offline).
        // "pipewire" opens only where a PipeWire server runs: there the sound goes out as a
        // native PipeWire stream, elsewhere through PulseAudio.
        std::vector<std::string> audioDrivers{"pipewire", "pulseaudio", "alsa", "jack"};
        std::string soundFontPath{"/usr/share/sounds/sf2/default-GM.sf2"};
        // PipeWire asks the stream for one period per cycle (64 frames, 1.5 ms at 44.1 kHz):
        // a note sounds within about 1 ms of an ideal writer's whether or not others sound.
        // PulseAudio keeps periodSize x periods frames queued and asks for at least one period
        // at a time; a note after silence skips the queue (the silence is dropped), one among
        // sounding notes waits it. There, 64 x 8 with a fixed latency is the shortest queue
        // without gaps with a busy GUI and a CPU hog on 2 cores (64 x 3 and 64 x 2 gave
        // hundreds, as did an ideal writer keeping 2 ms queued: the server's own thread is
        // the limit, tunestead-bench-latency). The thread that renders and carries the sound
        // runs real-time where allowed; where refused, the queue is normalPeriods long.
        int periodSize = 64;
        int periods = 8;
        int normalPeriods = 8;
        // PulseAudio only: let the server split the queue between stream and sink.
        bool adjustLatency = false;
        // Silence this long (no voice, nothing audible) pauses the output until the next event.
        // PulseAudio resumes a paused stream at once. A paused PipeWire stream resumes only
        // after the server has rebuilt its graph (about 10 ms more for that note), so it pauses
        // later, after a rest that music rarely has.
        double idleSeconds = 1.0;
        double pipeWireIdleSeconds = 5.0;
        // A synthesizer prepared beside start-up (DefaultPortWarmUp); the first port created
        // with its configuration takes it instead of making and loading its own.
        std::shared_ptr<SynthWarmUp> warmUp;
    };

    // {5B0F6C1E-3A7D-4E52-9C1B-7D2E84A3F016}: the port's identifier, fixed across runs.
    static constexpr music::GUID kPortGuid{
        0x5B0F6C1E, 0x3A7D, 0x4E52, {0x9C, 0x1B, 0x7D, 0x2E, 0x84, 0xA3, 0xF0, 0x16}};
    static constexpr char kDescription[] = "Tunestead built-in synthesizer (FluidSynth)";
    static constexpr int kDefaultSampleRate = 44100;

    FluidSynthBackend();
    explicit FluidSynthBackend(Options options);
    ~FluidSynthBackend() override;

    void ListPorts(std::vector<music::DMUS_PORTCAPS>& ports) override;
    // Creates the synthesizer with the asked voices, channel groups, effects and sample rate
    // (each within the port's limits, 44100 Hz when no rate is asked) and writes what it
    // granted back into `params`, flagging every field as valid.
    music::HRESULT CreatePort(const music::GUID& portGuid, music::DMUS_PORTPARAMS8* params,
                              std::unique_ptr<music::IMusicPort>* port) override;
    // The synthesizer's audio clock (AudioClock).
    void ListClocks(std::vector<music::ClockEntry>& clocks) override;

    // Starts preparing, on a thread of its own, the synth that a port created with no
    // parameters asked (voices, effects and rate at their defaults) with `options` uses.
    static std::shared_ptr<SynthWarmUp> DefaultPortWarmUp(const Options& options);

    // Renderer of the most recently created port's synth; null before the first CreatePort.
    std::shared_ptr<Renderer> LastPortRenderer() const;
    // What the most recently created port's audio output does (underruns, reconnections,
    // idle); all zero before the first CreatePort or after that port is gone.
    AudioOutputStats LastPortOutputStats() const;

    const Options& GetOptions() const { return options_; }

private:
    struct Limits {
        int maxVoices = 256;
        int maxChannelGroups = 16;
        int maxAudioChannels = 2;
        int minSampleRate = 8000;
        int maxSampleRate = 96000;
    };
    static Limits ReadLimits();
    static music::DMUS_PORTCAPS Caps(const Limits& limits);
    music::DMUS_PORTCAPS Caps() const { return Caps(limits_); }
    // The synth a port with `params` gets; writes what it granted back into `params`.
    static SynthCore::Config PortConfig(const Options& options, const Limits& limits,
                                        music::DMUS_PORTPARAMS8& params);

    Options options_;
    Limits limits_;
    mutable std::mutex lastMutex_;
    std::weak_ptr<SynthCore> lastCore_;
    std::shared_ptr<AudioClock> audioClock_;
};

}  // namespace platform::fluidsynth
