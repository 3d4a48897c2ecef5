#pragma once

#include <jack/jack.h>
#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/music/Types.h"

namespace platform::midi {

class JackMidiOutput;

// The program's link to a JACK server, which may be absent, stop and start again while the
// program runs. Refresh (called before each listing) notices a server that announced its
// shutdown and looks for a new one. Connection attempts are rare while none runs: one when the
// server's socket appears or changes, otherwise one every kRetryInterval, so that no client is
// opened (and nothing printed) every second. Owns the program's own output port "Tunestead"
// once enabled, and opens it again on every new server. GUI thread, except SendOwn.
class JackServer {
public:
    static constexpr std::chrono::seconds kRetryInterval{30};

    JackServer();
    ~JackServer();
    JackServer(const JackServer&) = delete;
    JackServer& operator=(const JackServer&) = delete;

    void Refresh();
    // True while connected to a server that has not announced its shutdown.
    bool Running() const { return monitor_ != nullptr && !shutDown_; }
    // Servers connected to so far; a new one means every earlier JACK client is gone.
    std::uint64_t Generation() const { return generation_; }

    struct Ports {
        std::vector<std::string> sources;       // other programs' MIDI outputs
        std::vector<std::string> destinations;  // other programs' MIDI inputs
    };
    // MIDI ports now, the program's own left out ("client:port").
    Ports ListPorts();

    // Opens the own output port now (when a server runs) and on every later server.
    void EnableOwnOutput();
    bool OwnOutputOpen();
    // Any thread; never waits on the server.
    void SendOwn(const music::BYTE* data, music::DWORD length) noexcept;

private:
    using Clock = std::chrono::steady_clock;
    struct SocketId {
        dev_t device = 0;
        ino_t inode = 0;
        time_t changed = 0;  // the inode's change time: a new socket may reuse the number
        long changedNs = 0;
        bool operator==(const SocketId&) const = default;
    };
    static SocketId ServerSocket();  // {0, 0} when no socket is there
    bool Connect();
    void Disconnect();
    void OpenOwnOutput();
    static void OnShutdown(jack_status_t code, const char* reason, void* self);

    jack_client_t* monitor_ = nullptr;
    std::atomic<bool> shutDown_{false};
    std::uint64_t generation_ = 0;
    bool attempted_ = false;
    Clock::time_point lastAttempt_{};
    SocketId lastSocket_{};
    bool ownWanted_ = false;
    std::mutex ownMutex_;
    std::shared_ptr<JackMidiOutput> own_;
};

}  // namespace platform::midi
