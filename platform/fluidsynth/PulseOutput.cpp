#include "platform/fluidsynth/PulseOutput.h"

#include <fluidsynth.h>
#include <pulse/pulseaudio.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/fluidsynth/RetryDelay.h"
#include "platform/fluidsynth/SynthInbox.h"
#include "platform/log/DebugOutput.h"
#include "platform/process/RealtimeThread.h"

namespace platform::fluidsynth {

using process::MakeThreadRealtime;
using process::RealtimeGrant;
namespace {

using namespace std::chrono_literals;

constexpr std::size_t kFrameBytes = 2 * sizeof(float);  // stereo float32
constexpr pa_usec_t kConnectTimeoutUs = 3'000'000;
// Peak below which a rendered block counts as silent: -100 dBFS, below 16-bit resolution.
constexpr float kSilentPeak = 1e-5f;
// Peak below which queued sound may be dropped for a new event: -80 dBFS. Cutting what lies
// below it is masked by the event's own sound that starts at the same moment.
constexpr float kInaudiblePeak = 1e-4f;

std::string ServerName() {
    const char* server = std::getenv("PULSE_SERVER");
    return server != nullptr && *server != 0 ? std::string("PulseAudio server at ") + server
                                             : std::string("the default PulseAudio server");
}

void Unref(pa_operation* operation) {
    if (operation != nullptr)
        pa_operation_unref(operation);
}

}  // namespace

// One server connection: its mainloop thread, context and playback stream. Destroying it
// stops the mainloop thread first, so no callback runs while the objects go.
struct PulseOutput::Connection {
    PulseOutput* owner = nullptr;
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    // Set once the stream plays; a failure before that is a failed connect, not a loss.
    bool live = false;
    bool timedOut = false;
    // The mainloop thread has asked for real-time scheduling; its outcome.
    bool priorityAsked = false;
    RealtimeGrant grant = RealtimeGrant::Refused;

    ~Connection() {
        if (loop != nullptr)
            pa_threaded_mainloop_stop(loop);
        if (stream != nullptr) {
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
        }
        if (context != nullptr) {
            pa_context_disconnect(context);
            pa_context_unref(context);
        }
        if (loop != nullptr)
            pa_threaded_mainloop_free(loop);
    }

    std::string ContextError() const {
        return pa_strerror(context != nullptr ? pa_context_errno(context) : PA_ERR_UNKNOWN);
    }

    static void OnContextState(pa_context* context, void* data) {
        auto* self = static_cast<Connection*>(data);
        const pa_context_state_t state = pa_context_get_state(context);
        if (self->live && !PA_CONTEXT_IS_GOOD(state))
            self->owner->ReportLost("connection lost: " + self->ContextError());
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void OnStreamState(pa_stream* stream, void* data) {
        auto* self = static_cast<Connection*>(data);
        const pa_stream_state_t state = pa_stream_get_state(stream);
        if (self->live && !PA_STREAM_IS_GOOD(state))
            self->owner->ReportLost("playback stream ended: " + self->ContextError());
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void OnWrite(pa_stream* /*stream*/, std::size_t bytes, void* data) {
        auto* self = static_cast<Connection*>(data);
        self->owner->Render(*self, bytes);
    }

    static void OnUnderflow(pa_stream* /*stream*/, void* data) {
        auto* self = static_cast<Connection*>(data);
        ++self->owner->underruns_;
    }

    // On the mainloop thread, before the stream exists: its priority decides the queue.
    static void OnRaisePriority(pa_mainloop_api* /*api*/, void* data) {
        auto* self = static_cast<Connection*>(data);
        self->grant = MakeThreadRealtime();
        self->priorityAsked = true;
        pa_threaded_mainloop_signal(self->loop, 0);
    }

    static void OnTimeout(pa_mainloop_api* api, pa_time_event* event, const timeval* /*tv*/,
                          void* data) {
        auto* self = static_cast<Connection*>(data);
        self->timedOut = true;
        api->time_free(event);
        pa_threaded_mainloop_signal(self->loop, 0);
    }
};

PulseOutput::PulseOutput(const Config& config, _fluid_synth_t* synth, SynthInbox* inbox)
    : config_(config), synth_(synth), inbox_(inbox) {}

std::unique_ptr<PulseOutput> PulseOutput::Open(const Config& config, _fluid_synth_t* synth,
                                               SynthInbox* inbox, std::string* cause) {
    std::unique_ptr<PulseOutput> output(new PulseOutput(config, synth, inbox));
    std::unique_ptr<Connection> connection = output->Connect(cause);
    if (!connection)
        return nullptr;
    output->conn_ = std::move(connection);
    output->connected_ = true;
    output->supervisor_ = std::thread([raw = output.get()] { raw->Supervise(); });
    return output;
}

PulseOutput::~PulseOutput() {
    {
        std::lock_guard lock(superviseMutex_);
        stop_ = true;
    }
    superviseCv_.notify_all();
    // A reconnection waiting on a server that does not answer ends now, not at its timeout.
    {
        std::lock_guard lock(pendingMutex_);
        abandon_ = true;
        if (pending_ != nullptr) {
            pa_threaded_mainloop_lock(pending_->loop);
            pending_->timedOut = true;
            pa_threaded_mainloop_signal(pending_->loop, 0);
            pa_threaded_mainloop_unlock(pending_->loop);
        }
    }
    if (supervisor_.joinable())
        supervisor_.join();
    std::unique_ptr<Connection> last;
    {
        std::lock_guard lock(connMutex_);
        last = std::move(conn_);
    }
}

std::unique_ptr<PulseOutput::Connection> PulseOutput::Connect(std::string* cause) {
    auto connection = std::make_unique<Connection>();
    connection->owner = this;
    connection->loop = pa_threaded_mainloop_new();
    if (connection->loop == nullptr) {
        *cause = "cannot create a PulseAudio main loop";
        return nullptr;
    }
    pa_threaded_mainloop_set_name(connection->loop, "tunestead-audio");
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(connection->loop);
    connection->context = pa_context_new(api, "Tunestead");
    if (connection->context == nullptr) {
        *cause = "cannot create a PulseAudio context";
        return nullptr;
    }
    pa_context_set_state_callback(connection->context, &Connection::OnContextState,
                                  connection.get());
    if (pa_context_connect(connection->context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        *cause = "cannot connect to the " + ServerName() + ": " + connection->ContextError();
        return nullptr;
    }
    if (pa_threaded_mainloop_start(connection->loop) < 0) {
        *cause = "cannot start the PulseAudio main loop thread";
        return nullptr;
    }
    // While it waits for the server, the destructor can cut the wait short.
    {
        std::lock_guard lock(pendingMutex_);
        if (abandon_) {
            *cause = "stopped";
            return nullptr;
        }
        pending_ = connection.get();
    }
    struct Unregister {
        PulseOutput* self;
        ~Unregister() {
            std::lock_guard lock(self->pendingMutex_);
            self->pending_ = nullptr;
        }
    } unregister{this};

    pa_threaded_mainloop_lock(connection->loop);
    // Every wait below ends by the state callbacks or by this one timeout.
    pa_context_rttime_new(connection->context, pa_rtclock_now() + kConnectTimeoutUs,
                          &Connection::OnTimeout, connection.get());
    auto failWith = [&](std::string text) {
        *cause = std::move(text);
        pa_threaded_mainloop_unlock(connection->loop);
        return nullptr;
    };
    for (;;) {
        const pa_context_state_t state = pa_context_get_state(connection->context);
        if (state == PA_CONTEXT_READY)
            break;
        if (!PA_CONTEXT_IS_GOOD(state))
            return failWith("cannot connect to the " + ServerName() + ": " +
                            connection->ContextError());
        if (connection->timedOut)
            return failWith("the " + ServerName() + " does not answer");
        pa_threaded_mainloop_wait(connection->loop);
    }
    pa_mainloop_api_once(api, &Connection::OnRaisePriority, connection.get());
    while (!connection->priorityAsked)
        pa_threaded_mainloop_wait(connection->loop);
    const bool realtime = connection->grant != RealtimeGrant::Refused;
    realtime_ = realtime;
    const int periods =
        realtime ? config_.periods : std::max(config_.periods, config_.normalPeriods);

    const pa_sample_spec format{PA_SAMPLE_FLOAT32LE, std::uint32_t(config_.sampleRate), 2};
    connection->stream =
        pa_stream_new(connection->context, "Built-in synthesizer", &format, nullptr);
    if (connection->stream == nullptr)
        return failWith("the " + ServerName() +
                        " refuses a playback stream: " + connection->ContextError());
    pa_stream_set_state_callback(connection->stream, &Connection::OnStreamState, connection.get());
    pa_stream_set_write_callback(connection->stream, &Connection::OnWrite, connection.get());
    pa_stream_set_underflow_callback(connection->stream, &Connection::OnUnderflow,
                                     connection.get());
    const auto period = std::uint32_t(config_.periodSize) * std::uint32_t(kFrameBytes);
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    // The server queues `periods` periods and never asks for less than one. Without latency
    // adjustment it runs the sink `periods - 2` periods at a time and asks for that much at
    // each run; with it, the sink runs about half the queue at a time.
    attr.tlength = period * std::uint32_t(periods);
    attr.minreq = period;
    // Playback (re)starts only with the whole target length queued: after a cork or an
    // underrun the stream begins with its full margin, not one period of it.
    attr.prebuf = attr.tlength;
    attr.fragsize = std::uint32_t(-1);
    const auto flags = config_.adjustLatency ? PA_STREAM_ADJUST_LATENCY : PA_STREAM_NOFLAGS;
    if (pa_stream_connect_playback(connection->stream, nullptr, &attr, flags, nullptr, nullptr) < 0)
        return failWith("the " + ServerName() +
                        " refuses a playback stream: " + connection->ContextError());
    for (;;) {
        const pa_stream_state_t state = pa_stream_get_state(connection->stream);
        if (state == PA_STREAM_READY)
            break;
        if (!PA_STREAM_IS_GOOD(state))
            return failWith("the " + ServerName() +
                            " refuses a playback stream: " + connection->ContextError());
        if (connection->timedOut)
            return failWith("the " + ServerName() + " does not open a playback stream");
        pa_threaded_mainloop_wait(connection->loop);
    }
    if (const pa_buffer_attr* granted = pa_stream_get_buffer_attr(connection->stream)) {
        targetFrames_ = std::uint32_t(granted->tlength / kFrameBytes);
        requestFrames_ = std::uint32_t(granted->minreq / kFrameBytes);
    }
    connection->live = true;
    corked_ = false;
    silentFrames_ = 0;
    inaudibleFrames_ = 0;
    pa_threaded_mainloop_unlock(connection->loop);
    return connection;
}

void PulseOutput::Render(Connection& connection, std::size_t bytes) {
    if (inbox_)
        inbox_->Drain();
    float peak = 0.0f;
    std::size_t frames = 0;
    while (bytes >= kFrameBytes) {
        void* data = nullptr;
        std::size_t size = bytes;
        if (pa_stream_begin_write(connection.stream, &data, &size) < 0 || data == nullptr)
            break;
        size = std::min(size, bytes) / kFrameBytes * kFrameBytes;
        if (size == 0) {
            pa_stream_cancel_write(connection.stream);
            break;
        }
        auto* out = static_cast<float*>(data);
        const int n = int(size / kFrameBytes);
        fluid_synth_write_float(synth_, n, out, 0, 2, out, 1, 2);
        for (std::size_t i = 0; i < std::size_t(n) * 2; ++i)
            peak = std::max(peak, std::fabs(out[i]));
        pa_stream_write(connection.stream, data, size, nullptr, 0, PA_SEEK_RELATIVE);
        bytes -= size;
        frames += std::size_t(n);
    }
    inaudibleFrames_ = peak >= kInaudiblePeak ? 0 : inaudibleFrames_ + std::int64_t(frames);
    if (peak >= kSilentPeak || fluid_synth_get_active_voice_count(synth_) > 0) {
        silentFrames_ = 0;
        return;
    }
    silentFrames_ += std::int64_t(frames);
    if (!corked_ && double(silentFrames_) >= config_.idleSeconds * config_.sampleRate) {
        Unref(pa_stream_cork(connection.stream, 1, nullptr, nullptr));
        corked_ = true;
    }
}

void PulseOutput::Wake() {
    std::lock_guard lock(connMutex_);
    if (!conn_)
        return;
    pa_threaded_mainloop_lock(conn_->loop);
    // The server holds at most the target length of what was rendered last: when none of
    // that can be heard (or the stream is corked), it is dropped, and the server asks at once
    // for a full target length that starts with the new event. So a note after a pause
    // sounds without waiting behind a queue of silence; a note among sounding ones waits its
    // turn, since dropping sound would cut it.
    const std::int64_t queued = std::int64_t(targetFrames_.load());
    const bool onlyInaudibleQueued = inaudibleFrames_ >= queued;
    silentFrames_ = 0;
    inaudibleFrames_ = 0;
    if ((corked_ || onlyInaudibleQueued) && pa_stream_get_state(conn_->stream) == PA_STREAM_READY) {
        Unref(pa_stream_flush(conn_->stream, nullptr, nullptr));
        ++silenceDrops_;
        if (corked_)
            Unref(pa_stream_cork(conn_->stream, 0, nullptr, nullptr));
        corked_ = false;
    }
    pa_threaded_mainloop_unlock(conn_->loop);
}

AudioOutputStats PulseOutput::Stats() const {
    AudioOutputStats stats;
    stats.running = true;
    stats.connected = connected_;
    stats.corked = corked_;
    stats.realtime = realtime_;
    stats.underruns = underruns_;
    stats.reconnections = reconnections_;
    stats.silenceDrops = silenceDrops_;
    stats.longestRetryWaitMs = longestRetryWaitMs_;
    stats.targetFrames = targetFrames_;
    stats.requestFrames = requestFrames_;
    return stats;
}

void PulseOutput::ReportLost(const std::string& reason) {
    {
        std::lock_guard lock(superviseMutex_);
        if (lost_)
            return;
        lost_ = true;
        lostReason_ = reason;
    }
    superviseCv_.notify_all();
}

bool PulseOutput::KeepTime(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds span) {
    // Without a server nothing renders, so released notes would never end and the synth would
    // run out of voices: it renders into the void at the pace of the clock instead. No other
    // thread renders meanwhile (no connection, no mainloop thread).
    constexpr auto kStep = 10ms;
    const int frames = int(config_.sampleRate * kStep.count() / 1000);
    std::vector<float> scratch(std::size_t(frames) * 2);
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        if (superviseCv_.wait_for(lock, kStep, [this] { return stop_; }))
            return true;
        if (inbox_)
            inbox_->Drain();
        fluid_synth_write_float(synth_, frames, scratch.data(), 0, 2, scratch.data(), 1, 2);
    }
    return false;
}

void PulseOutput::Supervise() {
    std::unique_lock lock(superviseMutex_);
    for (;;) {
        superviseCv_.wait(lock, [this] { return stop_ || lost_; });
        if (stop_)
            return;
        const std::string reason = lostReason_;
        lock.unlock();

        connected_ = false;
        OutputDebugString("Built-in synthesizer: " + ServerName() + ": " + reason +
                          "; reconnecting");
        std::unique_ptr<Connection> old;
        {
            std::lock_guard connLock(connMutex_);
            old = std::move(conn_);
        }
        // Its loop thread is gone now: no further report can come from it.
        old.reset();
        lock.lock();
        lost_ = false;
        lock.unlock();

        RetryDelay delay(kServerRetryFirst, kServerRetryCap);
        std::string lastCause;
        for (;;) {
            std::string cause;
            std::unique_ptr<Connection> fresh = Connect(&cause);
            if (fresh) {
                std::lock_guard connLock(connMutex_);
                conn_ = std::move(fresh);
                break;
            }
            // One line per kind of failure, not one per attempt.
            if (cause != lastCause)
                OutputDebugString("Built-in synthesizer: reconnection failed: " + cause);
            lastCause = cause;
            lock.lock();
            const auto wait = delay.Next();
            longestRetryWaitMs_ = std::max<std::int64_t>(longestRetryWaitMs_, wait.count());
            const bool stopped = KeepTime(lock, wait);
            lock.unlock();
            if (stopped)
                return;
        }
        connected_ = true;
        ++reconnections_;
        OutputDebugString("Built-in synthesizer: reconnected to the " + ServerName());
        lock.lock();
    }
}

}  // namespace platform::fluidsynth
