#pragma once

#include <array>
#include <cstddef>
#include <mutex>

#include "platform/music/Types.h"

struct _fluid_synth_t;

namespace platform::fluidsynth {

class PatchMap;

// Hands channel messages from the threads that send them (GUI, key bed, MIDI input) to the
// thread that renders the synth, which plays them just before its next render.
//
// FluidSynth guards its synth with a mutex that does not lend priority: a sender at normal
// priority preempted while playing a note would hold up the real-time rendering thread, and
// with a queue of a few milliseconds that is a gap. Here a sender only appends to a small ring,
// and the rendering thread never waits for it: if a sender holds the ring just then, what is
// queued plays one render later.
//
// Order is kept: a message that does not fit (system exclusive, or a full ring) is played on
// the sender's thread after everything queued before it.
class SynthInbox {
public:
    static constexpr std::size_t kCapacity = 512;

    explicit SynthInbox(_fluid_synth_t* synth) : synth_(synth) {}
    SynthInbox(const SynthInbox&) = delete;
    SynthInbox& operator=(const SynthInbox&) = delete;

    // Any thread. `patches` (may be null) must stay alive until the message has played:
    // until the next Drain() or Flush().
    void Post(PatchMap* patches, music::DWORD channelGroups, music::DWORD channelGroup,
              const music::BYTE* bytes, music::DWORD length);
    // The rendering thread, before each render: plays what is queued, unless a sender holds
    // the ring at this moment. Never waits.
    void Drain() noexcept;
    // Any thread: plays everything queued, now.
    void Flush();
    std::size_t Queued() const;

private:
    struct Message {
        PatchMap* patches = nullptr;
        music::DWORD channelGroups = 0;
        music::DWORD channelGroup = 0;
        std::array<music::BYTE, 3> bytes{};
        music::DWORD length = 0;
    };

    void PlayQueuedLocked() noexcept;

    _fluid_synth_t* const synth_;
    mutable std::mutex mutex_;
    std::array<Message, kCapacity> ring_{};
    std::size_t head_ = 0;
    std::size_t count_ = 0;
};

}  // namespace platform::fluidsynth
