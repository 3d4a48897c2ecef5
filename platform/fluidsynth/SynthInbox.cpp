#include "platform/fluidsynth/SynthInbox.h"

#include <algorithm>

#include "platform/fluidsynth/SynthEvent.h"

namespace platform::fluidsynth {

using music::BYTE;
using music::DWORD;

void SynthInbox::Post(PatchMap* patches, DWORD channelGroups, DWORD channelGroup, const BYTE* bytes,
                      DWORD length) {
    if (bytes == nullptr || length == 0)
        return;
    std::lock_guard lock(mutex_);
    if (length <= 3 && count_ < kCapacity) {
        Message& message = ring_[(head_ + count_) % kCapacity];
        message.patches = patches;
        message.channelGroups = channelGroups;
        message.channelGroup = channelGroup;
        std::copy_n(bytes, length, message.bytes.begin());
        message.length = length;
        ++count_;
        return;
    }
    PlayQueuedLocked();
    PlaySynthEvent(synth_, patches, channelGroups, channelGroup, bytes, length);
}

void SynthInbox::Drain() noexcept {
    std::unique_lock lock(mutex_, std::try_to_lock);
    if (lock.owns_lock())
        PlayQueuedLocked();
}

void SynthInbox::Flush() {
    std::lock_guard lock(mutex_);
    PlayQueuedLocked();
}

std::size_t SynthInbox::Queued() const {
    std::lock_guard lock(mutex_);
    return count_;
}

void SynthInbox::PlayQueuedLocked() noexcept {
    for (; count_ > 0; --count_, head_ = (head_ + 1) % kCapacity) {
        const Message& m = ring_[head_];
        PlaySynthEvent(synth_, m.patches, m.channelGroups, m.channelGroup, m.bytes.data(),
                       m.length);
    }
}

}  // namespace platform::fluidsynth
