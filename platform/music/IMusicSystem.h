#pragma once

#include <memory>

#include "platform/music/IMusic.h"
#include "platform/music/Types.h"

namespace platform::music {

// Creates music objects: the real one over this machine's synthesizers and MIDI ports, or a
// test double.
class IMusicSystem {
public:
    virtual ~IMusicSystem() = default;
    virtual HRESULT CreateMusic(std::unique_ptr<IMusic>* music) = 0;
};

}  // namespace platform::music
