#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/music/IMidiInput.h"

namespace platform::music {

// The input side shared by every input-port realisation: the platform's thread pushes each
// arriving message, the notification event is set, and Read hands the messages out in order.
// Bounded: beyond kMaxEvents waiting messages the newest are dropped and counted, so a flood
// that nobody reads cannot use up memory.
class MidiInputQueue final : public IMidiInput {
public:
    static constexpr std::size_t kMaxEvents = 8192;

    HRESULT SetReadNotificationHandle(std::shared_ptr<AutoResetEvent> event) override;
    HRESULT Read(IMusicBuffer& buffer) override;

    // Any thread (the platform's input thread). Empty messages are ignored.
    void Push(REFERENCE_TIME time, const BYTE* data, DWORD length);
    // Messages dropped because the queue was full.
    std::size_t Dropped() const;
    std::size_t Waiting() const;

private:
    struct Event {
        REFERENCE_TIME time;
        std::vector<BYTE> bytes;
    };

    mutable std::mutex mutex_;
    std::deque<Event> events_;
    std::shared_ptr<AutoResetEvent> notify_;
    std::size_t dropped_ = 0;
};

}  // namespace platform::music
