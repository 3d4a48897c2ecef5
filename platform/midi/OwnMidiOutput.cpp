#include "platform/midi/OwnMidiOutput.h"

#include "platform/log/DebugOutput.h"
#include "platform/midi/RtMidiSupport.h"

namespace platform::midi {

OwnMidiOutput::OwnMidiOutput() {
    for (const MidiApiInfo& info : kMidiApis) {
        try {
            auto out = std::make_unique<RtMidiOut>(ToRtMidi(info.api), std::string(kClientName));
            // Without a JACK server the object exists but the port cannot be made: RtMidi
            // then reports an error instead of throwing, which marks the system as absent.
            bool failed = false;
            out->setErrorCallback(
                [](RtMidiError::Type type, const std::string& text, void* user) {
                    if (type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
                        *static_cast<bool*>(user) = true;
                    platform::OutputDebugString("MIDI: " + text);
                },
                &failed);
            out->openVirtualPort(std::string(kClientName));
            InstallErrorCallback(*out);
            if (!failed)
                outs_.push_back(std::move(out));
        } catch (const RtMidiError& e) {
            platform::OutputDebugString(std::string(info.name) +
                                        ": no own MIDI output: " + e.getMessage());
        }
    }
}

OwnMidiOutput::~OwnMidiOutput() = default;

void OwnMidiOutput::Send(music::DWORD /*channelGroup*/, const music::BYTE* data,
                         music::DWORD length) noexcept {
    if (data == nullptr || length == 0)
        return;
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
