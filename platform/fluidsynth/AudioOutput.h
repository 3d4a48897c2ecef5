#pragma once

#include <cstdint>

namespace platform::fluidsynth {

// What the audio output of a port is doing, for tests and benchmarks.
struct AudioOutputStats {
    bool running = false;    // an output plays the synth
    bool connected = false;  // the output reaches its server (false while reconnecting)
    bool corked = false;     // idle: the stream is paused until the next event
    bool realtime = false;   // the thread that renders and carries the sound runs real-time
    std::uint64_t underruns = 0;
    std::uint64_t reconnections = 0;
    // Times an event found only silence (or a paused stream) queued and dropped it, so that
    // the event started at once.
    std::uint64_t silenceDrops = 0;
    // The longest wait between two attempts to reach a lost server, in milliseconds.
    std::int64_t longestRetryWaitMs = 0;
    std::uint32_t targetFrames = 0;   // the server's queue for the stream (PulseAudio only)
    std::uint32_t requestFrames = 0;  // the server's least request (PulseAudio only)
};

// One of our own outputs that plays a FluidSynth synthesizer on an audio server, rendering on
// the server's demand, pausing while idle and reconnecting after a lost server.
class AudioOutput {
public:
    virtual ~AudioOutput() = default;
    // Any thread, after an event reached the synth: resumes a paused output and drops queued
    // silence, so that the event is heard at once. Never waits for more than one render.
    virtual void Wake() = 0;
    virtual AudioOutputStats Stats() const = 0;
};

}  // namespace platform::fluidsynth
