#pragma once

#include <source_location>

#include "musicport/CDMusicException.h"
#include "platform/music/ResultCodes.h"

namespace musicport {

// Throws a failed platform result with the operation's label; the exception carries the
// caller's line.
inline void ThrowIfFailed(HRESULT hr, const char* label,
                          std::source_location where = std::source_location::current()) {
    if (platform::music::Failed(hr))
        throw CDMusicException(label, hr, where);
}

}  // namespace musicport
