#include "platform/midi/RtMidiOutputPort.h"

#include <mutex>

#include "platform/log/DebugOutput.h"
#include "platform/midi/RtMidiSupport.h"
#include "platform/music/ResultCodes.h"

namespace platform::midi {

using music::HRESULT;

// The opened RtMidi output, shared with thru sinks so that it can close under them.
class RtMidiOutputPort::Sender final : public music::IMidiSink {
public:
    void Send(music::DWORD /*channelGroup*/, const music::BYTE* data,
              music::DWORD length) noexcept override {
        std::lock_guard lock(mutex_);
        if (!out_ || data == nullptr || length == 0)
            return;
        try {
            out_->sendMessage(data, length);
        } catch (const RtMidiError& e) {
            platform::OutputDebugString("MIDI: " + e.getMessage());
        }
    }
    bool IsOpen() {
        std::lock_guard lock(mutex_);
        return out_ != nullptr;
    }
    void Open(std::unique_ptr<RtMidiOut> out) {
        std::lock_guard lock(mutex_);
        out_ = std::move(out);
    }
    void Close() {
        std::unique_ptr<RtMidiOut> closing;
        {
            std::lock_guard lock(mutex_);
            closing = std::move(out_);
        }
    }

private:
    std::mutex mutex_;
    std::unique_ptr<RtMidiOut> out_;
};

RtMidiOutputPort::RtMidiOutputPort(MidiApi api, std::string portName,
                                   const music::DMUS_PORTCAPS& caps)
    : ExternalPort(api, std::move(portName), caps), sender_(std::make_shared<Sender>()) {}

RtMidiOutputPort::~RtMidiOutputPort() {
    sender_->Close();
}

HRESULT RtMidiOutputPort::Activate(music::BOOL active) {
    if (!active) {
        sender_->Close();
        return music::S_OK;
    }
    if (sender_->IsOpen())
        return music::S_OK;
    try {
        auto out = std::make_unique<RtMidiOut>(ToRtMidi(api_), std::string(kClientName));
        InstallErrorCallback(*out);
        const std::optional<unsigned> index = FindPort(*out, portName_);
        if (!index)
            return music::DMUS_E_DRIVER_FAILED;  // the port has gone since it was listed
        out->openPort(*index, std::string(kClientName) + " out");
        if (!out->isPortOpen())
            return music::DMUS_E_DRIVER_FAILED;
        sender_->Open(std::move(out));
        return music::S_OK;
    } catch (const RtMidiError& e) {
        platform::OutputDebugString("MIDI: " + e.getMessage());
        return music::DMUS_E_DRIVER_FAILED;
    }
}

HRESULT RtMidiOutputPort::PlayBuffer(music::IMusicBuffer& buffer) {
    if (!sender_->IsOpen())
        return music::DMUS_E_SYNTHINACTIVE;
    return SendBuffer(buffer, *sender_);
}

HRESULT RtMidiOutputPort::QueryMidiSink(std::shared_ptr<music::IMidiSink>* sink) {
    if (sink == nullptr)
        return music::E_POINTER;
    *sink = sender_;
    return music::S_OK;
}

}  // namespace platform::midi
