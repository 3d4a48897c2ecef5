#include "platform/midi/JackOutputPort.h"

#include <mutex>

#include "platform/log/DebugOutput.h"
#include "platform/midi/JackMidiOutput.h"
#include "platform/music/ResultCodes.h"

namespace platform::midi {

using music::HRESULT;

// The opened output, shared with thru sinks so that it can close under them. Sends hold the
// mutex only for a copy into the output's queue; the output is closed outside it.
class JackOutputPort::Sender final : public music::IMidiSink {
public:
    void Send(music::DWORD channelGroup, const music::BYTE* data,
              music::DWORD length) noexcept override {
        std::lock_guard lock(mutex_);
        if (out_)
            out_->Send(channelGroup, data, length);
    }
    bool IsOpen() {
        std::lock_guard lock(mutex_);
        return out_ != nullptr;
    }
    void Open(std::unique_ptr<JackMidiOutput> out) {
        std::lock_guard lock(mutex_);
        out_ = std::move(out);
    }
    void Close() {
        std::unique_ptr<JackMidiOutput> closing;
        {
            std::lock_guard lock(mutex_);
            closing = std::move(out_);
        }
        // The client closes here, after the lock: senders are never held up by it.
    }

private:
    std::mutex mutex_;
    std::unique_ptr<JackMidiOutput> out_;
};

JackOutputPort::JackOutputPort(std::string portName, const music::DMUS_PORTCAPS& caps)
    : ExternalPort(MidiApi::Jack, std::move(portName), caps), sender_(std::make_shared<Sender>()) {}

JackOutputPort::~JackOutputPort() {
    sender_->Close();
}

HRESULT JackOutputPort::Activate(music::BOOL active) {
    if (!active) {
        sender_->Close();
        return music::S_OK;
    }
    if (sender_->IsOpen())
        return music::S_OK;
    std::unique_ptr<JackMidiOutput> out =
        JackMidiOutput::Open(std::string(kClientName), std::string(kClientName) + " out");
    if (!out)
        return music::DMUS_E_DRIVER_FAILED;
    if (!out->Connect(portName_)) {
        platform::OutputDebugString("JACK: cannot connect to " + portName_);
        return music::DMUS_E_DRIVER_FAILED;  // the port has gone since it was listed
    }
    sender_->Open(std::move(out));
    return music::S_OK;
}

HRESULT JackOutputPort::PlayBuffer(music::IMusicBuffer& buffer) {
    if (!sender_->IsOpen())
        return music::DMUS_E_SYNTHINACTIVE;
    return SendBuffer(buffer, *sender_);
}

HRESULT JackOutputPort::QueryMidiSink(std::shared_ptr<music::IMidiSink>* sink) {
    if (sink == nullptr)
        return music::E_POINTER;
    *sink = sender_;
    return music::S_OK;
}

}  // namespace platform::midi
