#pragma once

#include <jack/jack.h>
#include <jack/ringbuffer.h>

#include <atomic>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>

#include "platform/music/IMidiSink.h"

namespace platform::midi {

// One MIDI output port on a JACK client of its own. Send never waits on the server: each
// message goes into a bounded ring that the JACK process thread empties every cycle. A full
// ring, or a server that has announced its shutdown, drops the message; drops are counted and
// reported as debug lines (when a run of drops starts and when it ends). Send may be called
// from any thread, the rest from one thread.
class JackMidiOutput final : public music::IMidiSink {
public:
    static constexpr std::size_t kRingBytes = 64 * 1024;
    // Longer messages are never queued: they could not pass through the ring.
    static constexpr std::size_t kMaxMessage = 4096;

    // Opens client `clientName` (never starting a server) with output port `portName`;
    // null when no server answers.
    static std::unique_ptr<JackMidiOutput> Open(const std::string& clientName,
                                                const std::string& portName);
    ~JackMidiOutput() override;
    JackMidiOutput(const JackMidiOutput&) = delete;
    JackMidiOutput& operator=(const JackMidiOutput&) = delete;

    void Send(music::DWORD channelGroup, const music::BYTE* data,
              music::DWORD length) noexcept override;
    // Connects the port to another program's MIDI input ("client:port"). What is sent from
    // here on waits in the queue until the connection is in place on the server, so that
    // nothing sent just after connecting is played into an unconnected port.
    bool Connect(const std::string& destination);
    // True once the server has announced that it is shutting down (or has gone).
    bool ShutDown() const { return shutDown_; }
    std::size_t Dropped() const { return dropped_; }
    // The port's full name, "client:port".
    const std::string& Name() const { return name_; }

private:
    JackMidiOutput() = default;
    static int Process(jack_nframes_t frames, void* self);
    static void OnShutdown(jack_status_t code, const char* reason, void* self);
    void NoteDrop(const char* why);  // under writer_

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* ring_ = nullptr;
    std::string name_;
    std::mutex writer_;  // the ring takes one writer at a time
    std::atomic<bool> shutDown_{false};
    std::atomic<bool> awaitConnection_{false};
    std::atomic<std::size_t> dropped_{0};
    std::size_t droppedInRun_ = 0;  // under writer_
};

}  // namespace platform::midi
