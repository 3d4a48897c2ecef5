#include "platform/fluidsynth/PipeWireOutput.h"

#include <fluidsynth.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
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

constexpr std::uint32_t kFrameBytes = 2 * sizeof(float);  // stereo float32
constexpr auto kConnectTimeout = 3s;
constexpr float kSilentPeak = 1e-5f;  // -100 dBFS, below 16-bit resolution

void InitOnce() {
    static std::once_flag once;
    std::call_once(once, [] { pw_init(nullptr, nullptr); });
}

std::string Latency(int frames, int rate) {
    return std::to_string(frames) + "/" + std::to_string(rate);
}

}  // namespace

// One server connection: thread loop, context, core and stream. Destroying it stops the
// loop thread first, then destroys the stream (which leaves PipeWire's data thread).
struct PipeWireOutput::Connection {
    PipeWireOutput* owner = nullptr;
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;
    pw_registry* registry = nullptr;
    spa_hook registryListener{};
    int syncSeq = -1;
    bool synced = false;
    bool hasSink = false;
    spa_hook coreListener{};
    spa_hook streamListener{};
    pw_stream_state state = PW_STREAM_STATE_UNCONNECTED;
    std::string error;
    bool live = false;
    bool priorityAsked = false;  // data thread only
    // Silence rendered since the last sound or Wake(), and whether a pause has been asked of
    // the loop thread; Wake() clears both, so a pause asked just before an event is dropped.
    std::atomic<std::int64_t> silentFrames{0};
    std::atomic<bool> deactivating{false};

    ~Connection() {
        if (loop != nullptr)
            pw_thread_loop_stop(loop);
        if (stream != nullptr) {
            spa_hook_remove(&streamListener);
            pw_stream_destroy(stream);
        }
        if (registry != nullptr) {
            spa_hook_remove(&registryListener);
            pw_proxy_destroy(reinterpret_cast<pw_proxy*>(registry));
        }
        if (core != nullptr) {
            spa_hook_remove(&coreListener);
            pw_core_disconnect(core);
        }
        if (context != nullptr)
            pw_context_destroy(context);
        if (loop != nullptr)
            pw_thread_loop_destroy(loop);
    }

    static void OnCoreError(void* data, std::uint32_t id, int /*seq*/, int res,
                            const char* message) {
        auto* self = static_cast<Connection*>(data);
        if (id != PW_ID_CORE)
            return;
        self->error = message != nullptr ? message : std::strerror(-res);
        if (self->live)
            self->owner->ReportLost("connection lost: " + self->error);
        pw_thread_loop_signal(self->loop, false);
    }

    static void OnCoreDone(void* data, std::uint32_t id, int seq) {
        auto* self = static_cast<Connection*>(data);
        if (id == PW_ID_CORE && seq == self->syncSeq) {
            self->synced = true;
            pw_thread_loop_signal(self->loop, false);
        }
    }

    static void OnGlobal(void* data, std::uint32_t /*id*/, std::uint32_t /*permissions*/,
                         const char* type, std::uint32_t /*version*/, const spa_dict* props) {
        auto* self = static_cast<Connection*>(data);
        if (props == nullptr || std::strcmp(type, PW_TYPE_INTERFACE_Node) != 0)
            return;
        const char* mediaClass = spa_dict_lookup(props, PW_KEY_MEDIA_CLASS);
        if (mediaClass != nullptr && std::strcmp(mediaClass, "Audio/Sink") == 0)
            self->hasSink = true;
    }

    static void OnStateChanged(void* data, pw_stream_state /*old*/, pw_stream_state state,
                               const char* error) {
        auto* self = static_cast<Connection*>(data);
        self->state = state;
        if (error != nullptr)
            self->error = error;
        if (self->live && (state == PW_STREAM_STATE_ERROR || state == PW_STREAM_STATE_UNCONNECTED))
            self->owner->ReportLost("playback stream ended: " + (self->error.empty()
                                                                     ? std::string("unconnected")
                                                                     : self->error));
        pw_thread_loop_signal(self->loop, false);
    }

    // PipeWire's data thread: renders exactly the frames the cycle asks for.
    static void OnProcess(void* data) {
        auto* self = static_cast<Connection*>(data);
        PipeWireOutput& owner = *self->owner;
        if (!self->priorityAsked) {
            self->priorityAsked = true;
            const RealtimeGrant grant = MakeThreadRealtime();
            owner.realtime_ = grant != RealtimeGrant::Refused;
            if (grant == RealtimeGrant::Refused)
                pw_loop_invoke(pw_thread_loop_get_loop(self->loop), &Connection::Lengthen, 0,
                               nullptr, 0, false, self);
        }
        pw_buffer* buffer = pw_stream_dequeue_buffer(self->stream);
        if (buffer == nullptr) {
            ++owner.underruns_;
            return;
        }
        spa_data& block = buffer->buffer->datas[0];
        auto* out = static_cast<float*>(block.data);
        if (out == nullptr) {
            pw_stream_queue_buffer(self->stream, buffer);
            return;
        }
        std::uint32_t frames = block.maxsize / kFrameBytes;
        if (buffer->requested != 0)
            frames = std::min(frames, std::uint32_t(buffer->requested));
        if (owner.inbox_)
            owner.inbox_->Drain();
        fluid_synth_write_float(owner.synth_, int(frames), out, 0, 2, out, 1, 2);
        float peak = 0.0f;
        for (std::uint32_t i = 0; i < frames * 2; ++i)
            peak = std::max(peak, std::fabs(out[i]));
        block.chunk->offset = 0;
        block.chunk->stride = int(kFrameBytes);
        block.chunk->size = frames * kFrameBytes;
        pw_stream_queue_buffer(self->stream, buffer);

        if (peak >= kSilentPeak || fluid_synth_get_active_voice_count(owner.synth_) > 0) {
            self->silentFrames = 0;
            self->deactivating = false;
            return;
        }
        const std::int64_t silent = self->silentFrames += frames;
        if (double(silent) >= owner.config_.idleSeconds * owner.config_.sampleRate &&
            !self->deactivating.exchange(true)) {
            pw_loop_invoke(pw_thread_loop_get_loop(self->loop), &Connection::Deactivate, 0, nullptr,
                           0, false, self);
        }
    }

    // Loop thread (its lock held): the data thread found the synth silent long enough.
    static int Deactivate(spa_loop* /*loop*/, bool /*async*/, std::uint32_t /*seq*/,
                          const void* /*data*/, std::size_t /*size*/, void* userData) {
        auto* self = static_cast<Connection*>(userData);
        // A Wake() since the request cleared it: an event is sounding now.
        if (self->deactivating && !self->owner->idle_) {
            pw_stream_set_active(self->stream, false);
            self->owner->idle_ = true;
        }
        return 0;
    }

    // Loop thread: without real-time priority the data thread may be late by more than a
    // cycle, so the stream asks for a longer one.
    static int Lengthen(spa_loop* /*loop*/, bool /*async*/, std::uint32_t /*seq*/,
                        const void* /*data*/, std::size_t /*size*/, void* userData) {
        auto* self = static_cast<Connection*>(userData);
        const Config& config = self->owner->config_;
        const std::string latency =
            Latency(config.periodSize * config.normalPeriods, config.sampleRate);
        const spa_dict_item item = SPA_DICT_ITEM_INIT(PW_KEY_NODE_LATENCY, latency.c_str());
        const spa_dict dict = SPA_DICT_INIT(&item, 1);
        pw_stream_update_properties(self->stream, &dict);
        return 0;
    }

    static const pw_core_events& CoreEvents() {
        static const pw_core_events events = [] {
            pw_core_events e{};
            e.version = PW_VERSION_CORE_EVENTS;
            e.error = &Connection::OnCoreError;
            e.done = &Connection::OnCoreDone;
            return e;
        }();
        return events;
    }

    static const pw_registry_events& RegistryEvents() {
        static const pw_registry_events events = [] {
            pw_registry_events e{};
            e.version = PW_VERSION_REGISTRY_EVENTS;
            e.global = &Connection::OnGlobal;
            return e;
        }();
        return events;
    }

    static const pw_stream_events& StreamEvents() {
        static const pw_stream_events events = [] {
            pw_stream_events e{};
            e.version = PW_VERSION_STREAM_EVENTS;
            e.state_changed = &Connection::OnStateChanged;
            e.process = &Connection::OnProcess;
            return e;
        }();
        return events;
    }
};

PipeWireOutput::PipeWireOutput(const Config& config, _fluid_synth_t* synth, SynthInbox* inbox)
    : config_(config), synth_(synth), inbox_(inbox) {}

std::unique_ptr<PipeWireOutput> PipeWireOutput::Open(const Config& config, _fluid_synth_t* synth,
                                                     SynthInbox* inbox, std::string* cause) {
    std::unique_ptr<PipeWireOutput> output(new PipeWireOutput(config, synth, inbox));
    std::unique_ptr<Connection> connection = output->Connect(cause);
    if (!connection)
        return nullptr;
    output->conn_ = std::move(connection);
    output->connected_ = true;
    output->supervisor_ = std::thread([raw = output.get()] { raw->Supervise(); });
    return output;
}

PipeWireOutput::~PipeWireOutput() {
    {
        std::lock_guard lock(superviseMutex_);
        stop_ = true;
    }
    superviseCv_.notify_all();
    if (supervisor_.joinable())
        supervisor_.join();
    std::unique_ptr<Connection> last;
    {
        std::lock_guard lock(connMutex_);
        last = std::move(conn_);
    }
}

std::unique_ptr<PipeWireOutput::Connection> PipeWireOutput::Connect(std::string* cause) {
    InitOnce();
    auto connection = std::make_unique<Connection>();
    connection->owner = this;
    connection->loop = pw_thread_loop_new("tunestead-pw", nullptr);
    if (connection->loop == nullptr) {
        *cause = "cannot create a PipeWire loop";
        return nullptr;
    }
    connection->context = pw_context_new(pw_thread_loop_get_loop(connection->loop), nullptr, 0);
    if (connection->context == nullptr) {
        *cause = "cannot create a PipeWire context";
        return nullptr;
    }
    if (pw_thread_loop_start(connection->loop) < 0) {
        *cause = "cannot start the PipeWire loop thread";
        return nullptr;
    }
    pw_thread_loop_lock(connection->loop);
    auto failWith = [&](std::string text) {
        *cause = std::move(text);
        pw_thread_loop_unlock(connection->loop);
        return nullptr;
    };
    connection->core = pw_context_connect(connection->context, nullptr, 0);
    if (connection->core == nullptr)
        return failWith(std::string("no PipeWire server (") + std::strerror(errno) + ")");
    pw_core_add_listener(connection->core, &connection->coreListener, &Connection::CoreEvents(),
                         connection.get());

    timespec deadline{};
    pw_thread_loop_get_time(connection->loop, &deadline,
                            std::chrono::nanoseconds(kConnectTimeout).count());
    // PipeWire may run beside a PulseAudio daemon that has the sound card (screen sharing
    // only): it is the session's audio server only when it has a sink to play on.
    connection->registry = pw_core_get_registry(connection->core, PW_VERSION_REGISTRY, 0);
    pw_registry_add_listener(connection->registry, &connection->registryListener,
                             &Connection::RegistryEvents(), connection.get());
    connection->syncSeq = pw_core_sync(connection->core, PW_ID_CORE, 0);
    while (!connection->synced) {
        if (!connection->error.empty())
            return failWith("the PipeWire server fails: " + connection->error);
        if (pw_thread_loop_timed_wait_full(connection->loop, &deadline) == -ETIMEDOUT)
            return failWith("the PipeWire server does not answer");
    }
    if (!connection->hasSink)
        return failWith("the PipeWire server has no audio sink");

    const std::string latency = Latency(config_.periodSize, config_.sampleRate);
    pw_properties* props = pw_properties_new(
        PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, "Playback", PW_KEY_MEDIA_ROLE, "Music",
        PW_KEY_APP_NAME, "Tunestead", PW_KEY_NODE_NAME, "tunestead", PW_KEY_NODE_LATENCY,
        latency.c_str(), nullptr);
    connection->stream = pw_stream_new(connection->core, "Built-in synthesizer", props);
    if (connection->stream == nullptr)
        return failWith(std::string("the PipeWire server refuses a stream (") +
                        std::strerror(errno) + ")");
    pw_stream_add_listener(connection->stream, &connection->streamListener,
                           &Connection::StreamEvents(), connection.get());

    std::uint8_t podBuffer[1024];
    spa_pod_builder builder = SPA_POD_BUILDER_INIT(podBuffer, sizeof podBuffer);
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = std::uint32_t(config_.sampleRate);
    info.channels = 2;
    info.position[0] = SPA_AUDIO_CHANNEL_FL;
    info.position[1] = SPA_AUDIO_CHANNEL_FR;
    const spa_pod* params[] = {spa_format_audio_raw_build(&builder, SPA_PARAM_EnumFormat, &info)};
    const auto flags = pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS |
                                       PW_STREAM_FLAG_RT_PROCESS);
    if (pw_stream_connect(connection->stream, PW_DIRECTION_OUTPUT, PW_ID_ANY, flags, params, 1) < 0)
        return failWith("the PipeWire server refuses a playback stream");

    for (;;) {
        if (connection->state == PW_STREAM_STATE_PAUSED ||
            connection->state == PW_STREAM_STATE_STREAMING)
            break;
        if (connection->state == PW_STREAM_STATE_ERROR || !connection->error.empty())
            return failWith("the PipeWire server refuses a playback stream: " + connection->error);
        if (pw_thread_loop_timed_wait_full(connection->loop, &deadline) == -ETIMEDOUT)
            return failWith("the PipeWire server does not open a playback stream");
    }
    connection->live = true;
    idle_ = false;
    pw_thread_loop_unlock(connection->loop);
    return connection;
}

void PipeWireOutput::Wake() {
    std::lock_guard lock(connMutex_);
    if (!conn_)
        return;
    pw_thread_loop_lock(conn_->loop);
    conn_->silentFrames = 0;
    conn_->deactivating = false;
    // Paused: nothing is queued but what was rendered before the pause; dropped, so the
    // resumed stream starts with the new event.
    if (idle_) {
        pw_stream_flush(conn_->stream, false);
        pw_stream_set_active(conn_->stream, true);
        idle_ = false;
        ++silenceDrops_;
    }
    pw_thread_loop_unlock(conn_->loop);
}

AudioOutputStats PipeWireOutput::Stats() const {
    AudioOutputStats stats;
    stats.running = true;
    stats.connected = connected_;
    stats.corked = idle_;
    stats.realtime = realtime_;
    stats.underruns = underruns_;
    stats.reconnections = reconnections_;
    stats.silenceDrops = silenceDrops_;
    stats.longestRetryWaitMs = longestRetryWaitMs_;
    return stats;
}

void PipeWireOutput::ReportLost(const std::string& reason) {
    {
        std::lock_guard lock(superviseMutex_);
        if (lost_)
            return;
        lost_ = true;
        lostReason_ = reason;
    }
    superviseCv_.notify_all();
}

bool PipeWireOutput::KeepTime(std::unique_lock<std::mutex>& lock, std::chrono::milliseconds span) {
    // No server renders the synth meanwhile: it renders into the void at the clock's pace, so
    // that released notes end and free their voices.
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

void PipeWireOutput::Supervise() {
    std::unique_lock lock(superviseMutex_);
    for (;;) {
        superviseCv_.wait(lock, [this] { return stop_ || lost_; });
        if (stop_)
            return;
        const std::string reason = lostReason_;
        lock.unlock();

        connected_ = false;
        OutputDebugString("Built-in synthesizer: PipeWire: " + reason + "; reconnecting");
        std::unique_ptr<Connection> old;
        {
            std::lock_guard connLock(connMutex_);
            old = std::move(conn_);
        }
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
            if (cause != lastCause)
                OutputDebugString("Built-in synthesizer: PipeWire reconnection failed: " + cause);
            lastCause = cause;
            lock.lock();
            const auto wait = delay.Next();
            longestRetryWaitMs_ = std::max<std::int64_t>(longestRetryWaitMs_, wait.count());
            const bool stopped = KeepTime(lock, wait);
            if (stopped)
                return;
            lock.unlock();
        }
        connected_ = true;
        ++reconnections_;
        OutputDebugString("Built-in synthesizer: reconnected to the PipeWire server");
        lock.lock();
    }
}

}  // namespace platform::fluidsynth
