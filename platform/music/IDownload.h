#pragma once

#include "platform/music/Types.h"

namespace platform::music {

// One buffer of a port's sample memory, filled by the caller with a wave or an instrument
// download record. Its bytes stay where they are for the buffer's life.
class IDownload {
public:
    virtual ~IDownload() = default;
    virtual HRESULT GetBuffer(void** data, DWORD* size) = 0;
};

}  // namespace platform::music
