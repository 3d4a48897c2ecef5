#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/fluidsynth/AudioOutput.h"

struct _fluid_synth_t;

namespace platform::fluidsynth {

class SynthInbox;

// Plays one FluidSynth synthesizer on a PulseAudio server through an asynchronous playback
// stream whose buffer we size ourselves: the target length is `periods` periods of
// `periodSize` frames and a request is at least one period (FluidSynth's own PulseAudio driver
// gives none of that control). The mainloop thread, which both renders and carries the data
// to the server, runs real-time where the system allows it; where it does not, the queue is
// `normalPeriods` long instead, since a thread at normal priority may wait that long.
//
// Silence costs nothing: after a second in which the synth has had no voice and rendered
// nothing audible, the stream is corked; Wake() (called after every event played into the
// synth) uncorks it. Whenever all the server holds is inaudible (the last of a release or a
// reverb tail included), Wake() also drops it, so a note after a pause starts at once instead
// of behind the queue.
//
// A lost server (context or stream failure) is logged and the stream reconnected with a
// back-off on a thread of its own; meanwhile the synth keeps its state and its time (that
// thread renders it into the void, so released notes end).
//
// Threads: the PulseAudio mainloop thread renders; the reconnection thread builds and tears
// down connections; Wake() may be called from any other thread and never waits for more
// than one render callback.
class PulseOutput final : public AudioOutput {
public:
    struct Config {
        int sampleRate = 44100;
        int periodSize = 64;  // frames
        int periods = 8;
        int normalPeriods = 8;
        // Let the server split the queue between the stream and the sink
        // (PA_STREAM_ADJUST_LATENCY) instead of taking it as the stream's buffer.
        bool adjustLatency = false;
        // Silence this long (and no voice) corks the stream.
        double idleSeconds = 1.0;
    };

    // Connects and starts playing; null with `*cause` in words when no server answers or the
    // stream cannot be made. Blocks for at most a few seconds (the connection timeout).
    // Messages queued in `inbox` (may be null) play just before each render.
    static std::unique_ptr<PulseOutput> Open(const Config& config, _fluid_synth_t* synth,
                                             SynthInbox* inbox, std::string* cause);
    ~PulseOutput() override;
    PulseOutput(const PulseOutput&) = delete;
    PulseOutput& operator=(const PulseOutput&) = delete;

    // Any thread, after an event reached the synth: resumes a corked stream and drops queued
    // silence (see above).
    void Wake() override;
    AudioOutputStats Stats() const override;

    // Counters for tests and benchmarks.
    std::uint64_t Underruns() const { return underruns_.load(); }
    std::uint64_t Reconnections() const { return reconnections_.load(); }
    bool Corked() const { return corked_.load(); }
    // The buffer the server granted the current stream, in frames: its target length and its
    // least request.
    std::uint32_t TargetFrames() const { return targetFrames_.load(); }
    std::uint32_t RequestFrames() const { return requestFrames_.load(); }
    bool Connected() const { return connected_.load(); }
    // Whether the mainloop thread got real-time scheduling (the queue is sized by it).
    bool Realtime() const { return realtime_.load(); }
    // Times Wake() dropped queued silence, so that the next event started at once.
    std::uint64_t SilenceDrops() const { return silenceDrops_.load(); }

private:
    struct Connection;
    friend struct Connection;

    PulseOutput(const Config& config, _fluid_synth_t* synth, SynthInbox* inbox);
    std::unique_ptr<Connection> Connect(std::string* cause);
    void Supervise();
    // Mainloop thread, loop lock held.
    void Render(Connection& connection, std::size_t bytes);
    void ReportLost(const std::string& reason);
    // Reconnection thread, `lock` on superviseMutex_ held: renders silently for `span` while no
    // server plays the synth. True when stopped meanwhile.
    bool KeepTime(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds span);

    const Config config_;
    _fluid_synth_t* const synth_;
    SynthInbox* const inbox_;

    // Guards conn_'s replacement only; held for short steps, never across a connect.
    std::mutex connMutex_;
    std::unique_ptr<Connection> conn_;

    // Reconnection thread's wake-up: a lost connection or the end.
    std::mutex superviseMutex_;
    std::condition_variable superviseCv_;
    bool stop_ = false;
    bool lost_ = false;
    std::string lostReason_;
    std::thread supervisor_;

    // The connection the reconnection thread is waiting on, so that the destructor can end
    // the wait; abandon_ refuses new ones.
    std::mutex pendingMutex_;
    Connection* pending_ = nullptr;
    bool abandon_ = false;

    // Mainloop thread state, guarded by the loop lock: frames rendered since the last block
    // that was audible or had a voice (for the pause), and since the last audible one (for
    // dropping the queue).
    std::int64_t silentFrames_ = 0;
    std::int64_t inaudibleFrames_ = 0;

    std::atomic<bool> corked_{false};
    std::atomic<bool> connected_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> reconnections_{0};
    std::atomic<std::uint32_t> targetFrames_{0};
    std::atomic<std::uint32_t> requestFrames_{0};
    std::atomic<bool> realtime_{false};
    std::atomic<std::uint64_t> silenceDrops_{0};
    std::atomic<std::int64_t> longestRetryWaitMs_{0};
};

}  // namespace platform::fluidsynth
