#pragma once

#include <vector>

#include "platform/music/IMusicBuffer.h"

namespace platform::music {

// The event buffer every backend uses: events stored back to back, each taking
// DMUS_EVENT_SIZE(payload) bytes of the buffer's capacity, as a port's buffer of that size
// would hold them. Storage is reserved at construction, so packing and flushing do not
// allocate (buffers above 64 KiB grow on demand instead).
class EventBuffer final : public IMusicBuffer {
public:
    explicit EventBuffer(DWORD capacityBytes);

    HRESULT PackStructured(REFERENCE_TIME time, DWORD channelGroup, DWORD message) override;
    HRESULT PackUnstructured(REFERENCE_TIME time, DWORD channelGroup, DWORD length,
                             const BYTE* data) override;
    HRESULT Flush() override;
    HRESULT ResetReadPtr() override;
    HRESULT GetNextEvent(REFERENCE_TIME* time, DWORD* channelGroup, DWORD* length,
                         const BYTE** data) override;
    DWORD GetMaxBytes() const override { return capacity_; }

    // Bytes of capacity the packed events use.
    DWORD UsedBytes() const { return used_; }

private:
    struct Event {
        REFERENCE_TIME time;
        DWORD channelGroup;
        std::size_t offset;  // into bytes_
        DWORD length;
    };

    HRESULT Append(REFERENCE_TIME time, DWORD channelGroup, const BYTE* data, DWORD length);

    DWORD capacity_;
    DWORD used_ = 0;
    std::vector<Event> events_;
    std::vector<BYTE> bytes_;  // every event's payload, back to back
    std::size_t readIndex_ = 0;
};

// Bytes a short message occupies on the wire, from its status byte (0 for a status that
// cannot stand in a short message).
DWORD ShortMessageLength(BYTE status);

}  // namespace platform::music
