#pragma once

#include <cstdint>

namespace recorder {

// What the player drives while it replays a song. Called on the player thread with the
// performance lock held; none of these may wait for the GUI thread.
class IPlaybackSink {
public:
    virtual ~IPlaybackSink() = default;

    // Sends a short message on channel group 0; a send failure is reported and swallowed.
    virtual void SendMidiMsg(std::uint32_t msg) = 0;
    // Shows the key pressed and lists the note (source 3, playback).
    virtual void ShowNoteOn(std::uint8_t note, std::uint8_t velocity) = 0;
    virtual void ShowNoteOff(std::uint8_t note) = 0;
    // Queues the progress bar's position for the GUI thread.
    virtual void PostProgress(std::uint32_t position) = 0;
    // Queues the end of the playback run `run` for the GUI thread.
    virtual void PostPlaybackDone(std::uint64_t run) = 0;
};

}  // namespace recorder
