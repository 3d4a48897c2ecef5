#include "platform/midi/JackServer.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <utility>

#include "platform/log/DebugOutput.h"
#include "platform/midi/JackLog.h"
#include "platform/midi/JackMidiOutput.h"
#include "platform/midi/MidiApi.h"
#include "platform/midi/PortIdentity.h"

namespace platform::midi {

namespace {
// A client that opens no port: it lists the ports and hears the server's shutdown.
constexpr const char* kMonitorName = "Tunestead-monitor";
}  // namespace

JackServer::JackServer() {
    QuietJackLibrary();
}

JackServer::~JackServer() {
    if (monitor_ != nullptr)
        Disconnect();
}

JackServer::SocketId JackServer::ServerSocket() {
    // Where a JACK server of this user listens: /dev/shm/jack_<server>_<uid>_0.
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    const std::string path = "/dev/shm/jack_" + std::string(name != nullptr ? name : "default") +
                             "_" + std::to_string(getuid()) + "_0";
    struct stat st {};
    if (stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
        return {};
    return {st.st_dev, st.st_ino, st.st_ctim.tv_sec, st.st_ctim.tv_nsec};
}

void JackServer::Refresh() {
    if (monitor_ != nullptr && shutDown_) {
        platform::OutputDebugString("JACK: the server has shut down");
        Disconnect();
    }
    if (monitor_ != nullptr)
        return;
    const SocketId socket = ServerSocket();
    const bool socketChanged = socket != SocketId{} && socket != lastSocket_;
    const auto now = Clock::now();
    if (attempted_ && !socketChanged && now - lastAttempt_ < kRetryInterval)
        return;
    attempted_ = true;
    lastAttempt_ = now;
    lastSocket_ = socket;
    Connect();
}

bool JackServer::Connect() {
    jack_client_t* client = jack_client_open(kMonitorName, JackNoStartServer, nullptr);
    if (client == nullptr)
        return false;
    shutDown_ = false;
    jack_on_info_shutdown(client, &JackServer::OnShutdown, this);
    if (jack_activate(client) != 0) {
        jack_client_close(client);
        return false;
    }
    monitor_ = client;
    ++generation_;
    platform::OutputDebugString("JACK: connected to the server");
    if (ownWanted_)
        OpenOwnOutput();
    return true;
}

void JackServer::Disconnect() {
    std::shared_ptr<JackMidiOutput> own;
    {
        std::lock_guard lock(ownMutex_);
        own = std::move(own_);
    }
    own.reset();  // closes its client here, not on a sending thread
    jack_client_close(monitor_);
    monitor_ = nullptr;
    // A socket left by a server that died is not tried again before the retry interval.
    lastSocket_ = ServerSocket();
    lastAttempt_ = Clock::now();
}

void JackServer::OnShutdown(jack_status_t, const char*, void* self) {
    static_cast<JackServer*>(self)->shutDown_ = true;
}

JackServer::Ports JackServer::ListPorts() {
    Ports ports;
    if (!Running())
        return ports;
    const auto add = [&](unsigned long flags, std::vector<std::string>& into) {
        const char** names = jack_get_ports(monitor_, nullptr, JACK_DEFAULT_MIDI_TYPE, flags);
        if (names == nullptr)
            return;
        for (const char** name = names; *name != nullptr; ++name)
            if (!IsOwnPort(*name))
                into.emplace_back(*name);
        jack_free(static_cast<void*>(names));
    };
    add(JackPortIsOutput, ports.sources);
    add(JackPortIsInput, ports.destinations);
    return ports;
}

void JackServer::EnableOwnOutput() {
    ownWanted_ = true;
    Refresh();
    if (Running())
        OpenOwnOutput();
}

void JackServer::OpenOwnOutput() {
    {
        std::lock_guard lock(ownMutex_);
        if (own_ && !own_->ShutDown())
            return;
    }
    std::shared_ptr<JackMidiOutput> opened =
        JackMidiOutput::Open(std::string(kClientName), std::string(kClientName));
    if (!opened)
        platform::OutputDebugString("JACK: the own MIDI output could not be opened");
    std::shared_ptr<JackMidiOutput> old;
    {
        std::lock_guard lock(ownMutex_);
        old = std::exchange(own_, std::move(opened));
    }
}

bool JackServer::OwnOutputOpen() {
    std::lock_guard lock(ownMutex_);
    return own_ && !own_->ShutDown();
}

void JackServer::SendOwn(const music::BYTE* data, music::DWORD length) noexcept {
    // Held only for a copy into the ring: the output closes on the GUI thread, never here.
    std::lock_guard lock(ownMutex_);
    if (own_)
        own_->Send(0, data, length);
}

}  // namespace platform::midi
