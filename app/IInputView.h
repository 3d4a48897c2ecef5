#pragma once

#include <chrono>

#include "musicport/MidiMsg.h"

namespace app {

// What MIDI input shows and records through the dialog. GUI thread, under the performance
// lock.
class IInputView {
public:
    virtual ~IInputView() = default;
    virtual void PressKey(musicport::BYTE note) = 0;
    virtual void ReleaseKey(musicport::BYTE note) = 0;
    virtual void AddMessage(musicport::BYTE note, musicport::BYTE velocity, int source) = 0;
    // The recorder's step for one received note message, with the time it arrived at the
    // input port (steady clock).
    virtual void RecordingStep(musicport::DWORD message,
                               std::chrono::steady_clock::time_point arrival) = 0;
    // Sends a message to the output port (used to release notes the input left sounding).
    virtual void SendToOutput(musicport::DWORD message) = 0;
};

}  // namespace app
