#pragma once

#include "platform/music/Types.h"

namespace platform::music {

// An event buffer: events are packed in, handed to a port with PlayBuffer (or filled by an
// input port's Read), walked with ResetReadPtr/GetNextEvent and emptied with Flush.
// Not thread-safe: one owner packs, plays and flushes.
class IMusicBuffer {
public:
    virtual ~IMusicBuffer() = default;

    // One short message (status in bits 0-7, data bytes in bits 8-15 and 16-23).
    virtual HRESULT PackStructured(REFERENCE_TIME time, DWORD channelGroup, DWORD message) = 0;
    // Raw bytes, e.g. a system-exclusive message. Fails with DMUS_E_BUFFER_FULL when the
    // event does not fit.
    virtual HRESULT PackUnstructured(REFERENCE_TIME time, DWORD channelGroup, DWORD length,
                                     const BYTE* data) = 0;
    virtual HRESULT Flush() = 0;
    virtual HRESULT ResetReadPtr() = 0;
    // Next event from the read pointer; S_FALSE at the end. `data` stays valid until the
    // buffer is packed or flushed.
    virtual HRESULT GetNextEvent(REFERENCE_TIME* time, DWORD* channelGroup, DWORD* length,
                                 const BYTE** data) = 0;
    // Size in bytes the buffer was created with.
    virtual DWORD GetMaxBytes() const = 0;
};

}  // namespace platform::music
