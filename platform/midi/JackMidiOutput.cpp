#include "platform/midi/JackMidiOutput.h"

#include <jack/midiport.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <thread>

#include "platform/log/DebugOutput.h"
#include "platform/midi/JackLog.h"

namespace platform::midi {

using Length = std::uint32_t;

std::unique_ptr<JackMidiOutput> JackMidiOutput::Open(const std::string& clientName,
                                                     const std::string& portName) {
    QuietJackLibrary();
    std::unique_ptr<JackMidiOutput> out(new JackMidiOutput);
    out->client_ = jack_client_open(clientName.c_str(), JackNoStartServer, nullptr);
    if (out->client_ == nullptr)
        return nullptr;
    out->ring_ = jack_ringbuffer_create(kRingBytes);
    out->port_ = jack_port_register(out->client_, portName.c_str(), JACK_DEFAULT_MIDI_TYPE,
                                    JackPortIsOutput, 0);
    if (out->ring_ == nullptr || out->port_ == nullptr)
        return nullptr;
    out->name_ = jack_port_name(out->port_);
    jack_set_process_callback(out->client_, &JackMidiOutput::Process, out.get());
    jack_on_info_shutdown(out->client_, &JackMidiOutput::OnShutdown, out.get());
    if (jack_activate(out->client_) != 0)
        return nullptr;
    return out;
}

JackMidiOutput::~JackMidiOutput() {
    // What was sent last (the All Notes Off of a shutdown, say) leaves with the next process
    // cycles: wait for them, a few cycles at most, so that a stalled server holds no one up.
    constexpr auto kDrainLimit = std::chrono::milliseconds(100);
    const auto until = std::chrono::steady_clock::now() + kDrainLimit;
    while (client_ != nullptr && ring_ != nullptr && !shutDown_ &&
           jack_ringbuffer_read_space(ring_) > 0 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (client_ != nullptr)
        jack_client_close(client_);  // stops the process thread before the ring goes
    if (ring_ != nullptr)
        jack_ringbuffer_free(ring_);
    std::lock_guard lock(writer_);
    if (droppedInRun_ > 0)
        platform::OutputDebugString("JACK MIDI " + name_ + ": " + std::to_string(droppedInRun_) +
                                    " messages dropped");
}

void JackMidiOutput::Send(music::DWORD /*channelGroup*/, const music::BYTE* data,
                          music::DWORD length) noexcept {
    if (data == nullptr || length == 0)
        return;
    std::lock_guard lock(writer_);
    if (shutDown_) {
        NoteDrop("the server has shut down");
        return;
    }
    const Length n = length;
    if (n > kMaxMessage || jack_ringbuffer_write_space(ring_) < sizeof n + n) {
        NoteDrop(n > kMaxMessage ? "message too long" : "queue full");
        return;
    }
    // The reader takes a message only once all of it is in the ring.
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(&n), sizeof n);
    jack_ringbuffer_write(ring_, reinterpret_cast<const char*>(data), n);
    if (droppedInRun_ > 0) {
        platform::OutputDebugString("JACK MIDI " + name_ + ": " + std::to_string(droppedInRun_) +
                                    " messages dropped");
        droppedInRun_ = 0;
    }
}

void JackMidiOutput::NoteDrop(const char* why) {
    ++dropped_;
    if (droppedInRun_++ == 0)
        platform::OutputDebugString("JACK MIDI " + name_ + ": dropping messages (" + why + ")");
}

bool JackMidiOutput::Connect(const std::string& destination) {
    if (shutDown_)
        return false;
    awaitConnection_ = true;
    const int result = jack_connect(client_, name_.c_str(), destination.c_str());
    if (result == 0 || result == EEXIST)
        return true;
    awaitConnection_ = false;
    return false;
}

int JackMidiOutput::Process(jack_nframes_t frames, void* self) {
    auto& out = *static_cast<JackMidiOutput*>(self);
    void* buffer = jack_port_get_buffer(out.port_, frames);
    jack_midi_clear_buffer(buffer);
    if (out.awaitConnection_) {
        if (jack_port_connected(out.port_) == 0)
            return 0;  // the connection asked for is not in this cycle's graph yet
        out.awaitConnection_ = false;
    }
    for (;;) {
        Length n = 0;
        const std::size_t waiting = jack_ringbuffer_read_space(out.ring_);
        if (waiting < sizeof n)
            break;
        jack_ringbuffer_peek(out.ring_, reinterpret_cast<char*>(&n), sizeof n);
        if (waiting < sizeof n + n)
            break;
        const bool fits = jack_midi_max_event_size(buffer) >= n;
        if (!fits && jack_midi_get_event_count(buffer) > 0)
            break;  // this cycle's buffer is full: the rest goes in the next one
        jack_midi_data_t* event = fits ? jack_midi_event_reserve(buffer, 0, n) : nullptr;
        jack_ringbuffer_read_advance(out.ring_, sizeof n);
        if (event != nullptr)
            jack_ringbuffer_read(out.ring_, reinterpret_cast<char*>(event), n);
        else
            jack_ringbuffer_read_advance(out.ring_, n);  // larger than any cycle can carry
    }
    return 0;
}

void JackMidiOutput::OnShutdown(jack_status_t, const char*, void* self) {
    static_cast<JackMidiOutput*>(self)->shutDown_ = true;
}

}  // namespace platform::midi
