#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

namespace recorder {

// What the recorder and the song-file commands show and play through the main window.
// GUI thread, except where a method says otherwise.
class IRecorderView {
public:
    virtual ~IRecorderView() = default;

    virtual void EnableRecordButton(bool enable) = 0;
    virtual void EnablePlayButton(bool enable) = 0;
    virtual void EnableStopButton(bool enable) = 0;
    // Menu item "新建" (New).
    virtual void EnableNewItem(bool enable) = 0;
    virtual void TakeFocus() = 0;
    // Releases every key of the piano and sends All Notes Off.
    virtual void AllNotesOff() = 0;
    // A plain message box with an OK button (UTF-8).
    virtual void ShowMessage(std::string_view text) = 0;

    // Any thread: queue a progress-bar change for the GUI thread.
    virtual void PostProgressRange(int low, int high) = 0;
    virtual void PostProgressPos(std::uint32_t position) = 0;
    // Any thread: runs `task` on the GUI thread later, unless the window is gone by then.
    virtual void Post(std::function<void()> task) = 0;

    // Any thread, performance lock held: the output port and the display of played notes.
    virtual void SendMidiMsg(std::uint32_t msg) = 0;
    virtual void PressKey(std::uint8_t note) = 0;
    virtual void ReleaseKey(std::uint8_t note) = 0;
    // A row of the message list with a source tag (2 MIDI input, 3 playback).
    virtual void AddMessage(std::uint8_t note, std::uint8_t velocity, int source) = 0;
};

}  // namespace recorder
