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

// Plays one FluidSynth synthesizer as a native PipeWire stream: the server's graph asks the
// stream for each cycle's frames and the process callback renders exactly those, so nothing
// is queued beyond the cycle. The stream asks for one period as its latency
// (`node.latency`); a PulseAudio-protocol client on PipeWire is held to a much longer one.
// The callback runs on PipeWire's data thread, real-time where the system allows it; where it
// does not, the stream asks for `normalPeriods` periods instead.
//
// Silence costs nothing: after `idleSeconds` with no voice and nothing audible the stream is
// made inactive, and Wake() resumes it. A lost server is logged and reconnected with a
// back-off on a thread of its own, which meanwhile renders the synth silently so that it
// keeps time.
//
// Open() fails at once when no PipeWire server runs in the session, or when the one that runs
// has no audio sink (PipeWire beside a PulseAudio daemon): that is how the caller tells
// PipeWire from PulseAudio.
class PipeWireOutput final : public AudioOutput {
public:
    struct Config {
        int sampleRate = 44100;
        int periodSize = 64;  // frames
        int normalPeriods = 8;
        double idleSeconds = 1.0;
    };

    // Messages queued in `inbox` (may be null) play just before each render.
    static std::unique_ptr<PipeWireOutput> Open(const Config& config, _fluid_synth_t* synth,
                                                SynthInbox* inbox, std::string* cause);
    ~PipeWireOutput() override;
    PipeWireOutput(const PipeWireOutput&) = delete;
    PipeWireOutput& operator=(const PipeWireOutput&) = delete;

    void Wake() override;
    AudioOutputStats Stats() const override;

private:
    struct Connection;
    friend struct Connection;

    PipeWireOutput(const Config& config, _fluid_synth_t* synth, SynthInbox* inbox);
    std::unique_ptr<Connection> Connect(std::string* cause);
    void Supervise();
    void ReportLost(const std::string& reason);
    bool KeepTime(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds span);

    const Config config_;
    _fluid_synth_t* const synth_;
    SynthInbox* const inbox_;

    std::mutex connMutex_;
    std::unique_ptr<Connection> conn_;

    std::mutex superviseMutex_;
    std::condition_variable superviseCv_;
    bool stop_ = false;
    bool lost_ = false;
    std::string lostReason_;
    std::thread supervisor_;

    std::atomic<bool> idle_{false};
    std::atomic<bool> connected_{false};
    std::atomic<bool> realtime_{false};
    std::atomic<std::uint64_t> underruns_{0};
    std::atomic<std::uint64_t> reconnections_{0};
    std::atomic<std::uint64_t> silenceDrops_{0};
    std::atomic<std::int64_t> longestRetryWaitMs_{0};
};

}  // namespace platform::fluidsynth
