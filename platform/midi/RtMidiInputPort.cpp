#include "platform/midi/RtMidiInputPort.h"

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
                                 const music::DMUS_PORTCAPS& caps, std::function<bool()> reachable)
    : ExternalPort(api, std::move(portName), caps), reachable_(std::move(reachable)) {}

RtMidiInputPort::~RtMidiInputPort() {
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
        in_.reset();
        return music::S_OK;
    }
    if (in_)
        return music::S_OK;
    if (reachable_ && !reachable_())
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
