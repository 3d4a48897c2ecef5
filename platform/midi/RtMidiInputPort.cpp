#include "platform/midi/RtMidiInputPort.h"

#include <memory>
#include <mutex>
#include <vector>

#include "platform/log/DebugOutput.h"
#include "platform/midi/RtMidiSupport.h"
#include "platform/music/ResultCodes.h"
#include "platform/music/SteadyTime.h"

namespace platform::midi {

using music::HRESULT;

namespace {
// Messages RtMidi may hold before our callback takes them (callbacks take them at once).
constexpr unsigned kQueueSizeLimit = 1024;
}  // namespace

RtMidiInputPort::RtMidiInputPort(MidiApi api, std::string portName,
                                 const music::DMUS_PORTCAPS& caps,
                                 std::function<std::uint64_t()> server)
    : ExternalPort(api, std::move(portName), caps), server_(std::move(server)) {}

RtMidiInputPort::~RtMidiInputPort() {
    Close();
}

void RtMidiInputPort::Close() {
    if (in_ && server_ && server_() != openedOn_) {
        // The server this port was opened on has gone. RtMidi's close would unregister the
        // port through the dead client, which makes libjack read unmapped memory; the object
        // is kept instead (a few kilobytes for each server that died), and never called.
        static std::mutex mutex;
        static auto* abandoned = new std::vector<std::unique_ptr<RtMidiIn>>();
        std::lock_guard lock(mutex);
        abandoned->push_back(std::move(in_));
        platform::OutputDebugString("MIDI: input \"" + portName_ +
                                    "\" left behind with the server it was opened on");
        return;
    }
    in_.reset();
}

void RtMidiInputPort::OnMessage(double /*deltaSeconds*/, std::vector<unsigned char>* message,
                                void* user) {
    if (message == nullptr || message->empty())
        return;
    auto& arrival = *static_cast<Arrival*>(user);
    const auto length = static_cast<music::DWORD>(message->size());
    arrival.thru->Forward(1, message->data(), length);
    arrival.queue->Push(music::SteadyNow(), message->data(), length);
}

HRESULT RtMidiInputPort::Activate(music::BOOL active) {
    if (!active) {
        // Closing stops RtMidi's input thread, so no callback runs afterwards.
        Close();
        return music::S_OK;
    }
    if (in_)
        return music::S_OK;
    openedOn_ = server_ ? server_() : 0;
    if (server_ && openedOn_ == 0)
        return music::DMUS_E_DRIVER_FAILED;
    try {
        auto in =
            std::make_unique<RtMidiIn>(ToRtMidi(api_), std::string(kClientName), kQueueSizeLimit);
        InstallErrorCallback(*in);
        const std::optional<unsigned> index = FindPort(*in, portName_);
        if (!index)
            return music::DMUS_E_DRIVER_FAILED;
        in->ignoreTypes(false, true, true);
        in->setCallback(&RtMidiInputPort::OnMessage, &arrival_);
        in->openPort(*index, std::string(kClientName) + " in");
        if (!in->isPortOpen())
            return music::DMUS_E_DRIVER_FAILED;
        in_ = std::move(in);
        return music::S_OK;
    } catch (const RtMidiError& e) {
        platform::OutputDebugString("MIDI: " + e.getMessage());
        return music::DMUS_E_DRIVER_FAILED;
    }
}

HRESULT RtMidiInputPort::PlayBuffer(music::IMusicBuffer& /*buffer*/) {
    return music::DMUS_E_PORT_NOT_RENDER;
}

HRESULT RtMidiInputPort::QueryMidiInput(std::shared_ptr<music::IMidiInput>* input) {
    if (input == nullptr)
        return music::E_POINTER;
    *input = arrival_.queue;
    return music::S_OK;
}

HRESULT RtMidiInputPort::QueryThru(std::shared_ptr<music::IMusicThru>* thru) {
    if (thru == nullptr)
        return music::E_POINTER;
    *thru = arrival_.thru;
    return music::S_OK;
}

}  // namespace platform::midi
