#include "platform/midi/OwnMidiOutput.h"

#include "platform/log/DebugOutput.h"
#include "platform/midi/JackServer.h"
#include "platform/midi/RtMidiSupport.h"

namespace platform::midi {

OwnMidiOutput::OwnMidiOutput(std::shared_ptr<JackServer> jack) : jack_(std::move(jack)) {
    if (jack_)
        jack_->EnableOwnOutput();
    if (!SequencerPresent())
        return;
    try {
        auto out = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, std::string(kClientName));
        InstallErrorCallback(*out);
        out->openVirtualPort(std::string(kClientName));
        outs_.push_back(std::move(out));
    } catch (const RtMidiError& e) {
        platform::OutputDebugString("ALSA: no own MIDI output: " + e.getMessage());
    }
}

OwnMidiOutput::~OwnMidiOutput() = default;

std::size_t OwnMidiOutput::Systems() {
    std::lock_guard lock(mutex_);
    return outs_.size() + (jack_ && jack_->OwnOutputOpen() ? 1 : 0);
}

void OwnMidiOutput::Send(music::DWORD /*channelGroup*/, const music::BYTE* data,
                         music::DWORD length) noexcept {
    if (data == nullptr || length == 0)
        return;
    if (jack_)
        jack_->SendOwn(data, length);
    std::lock_guard lock(mutex_);
    for (const auto& out : outs_) {
        try {
            out->sendMessage(data, length);
        } catch (const RtMidiError& e) {
            platform::OutputDebugString("MIDI: " + e.getMessage());
        }
    }
}

}  // namespace platform::midi
