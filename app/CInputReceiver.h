#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <mutex>
#include <vector>

#include "app/IInputView.h"
#include "musicport/CMidiReceiver.h"

namespace app {

// The application's MIDI receiver. On the input port's notification thread it only copies
// note messages, with their arrival stamps, into its own queue and, when the queue was empty,
// posts one drain to the GUI thread: it never waits for the performance lock, so stopping the
// notification thread while the GUI holds that lock completes at once. The drain (GUI thread,
// under the performance lock) runs the recording step with each message's arrival time and
// shows the keys and the yellow rows. Thru has already sounded the notes.
class CInputReceiver final : public musicport::CMidiReceiver {
public:
    // Runs `drain` on the GUI thread later; must not block.
    using Poster = std::function<void(std::function<void()> drain)>;
    // Note messages waiting for the GUI beyond this are dropped (they still sounded).
    static constexpr std::size_t kMaxPending = 8192;

    // Any thread. With a null view (no dialog) messages are dropped. Messages waiting for the
    // previous view are dropped; once Attach returns, the previous poster is never called.
    void Attach(IInputView* view, Poster post);

    // Input thread.
    void ReceiveMidiMsg(musicport::REFERENCE_TIME time, musicport::DWORD channelGroup,
                        musicport::DWORD msg) override;
    void ReceiveMidiMsg(musicport::REFERENCE_TIME time, musicport::DWORD channelGroup,
                        musicport::DWORD length, const musicport::BYTE* data) override;

    // GUI thread: handles what has arrived (the posted drain calls it).
    void Drain();
    // GUI thread: releases every key input left pressed and sends note-offs for the notes it
    // left sounding (on the channel thru plays them on), e.g. when its port has gone.
    void ReleaseAll();
    std::size_t Dropped() const;

private:
    struct Pending {
        musicport::DWORD message;
        musicport::REFERENCE_TIME arrival;  // steady clock, 100 ns units
    };

    mutable std::mutex mutex_;
    std::vector<Pending> pending_;
    bool drainPosted_ = false;
    std::size_t dropped_ = 0;
    IInputView* view_ = nullptr;
    Poster post_;
    // GUI thread only: notes shown pressed, per channel.
    std::array<std::array<bool, 128>, 16> sounding_{};
};

}  // namespace app
