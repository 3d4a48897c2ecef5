#pragma once

#include <memory>

#include "platform/music/IMusic.h"
#include "platform/music/IMusicLoader.h"
#include "platform/music/ResultCodes.h"
#include "platform/music/Types.h"

namespace platform::music {

// Creates music objects: the real one over this machine's synthesizers and MIDI ports, or a
// test double.
class IMusicSystem {
public:
    virtual ~IMusicSystem() = default;
    virtual HRESULT CreateMusic(std::unique_ptr<IMusic>* music) = 0;
    // The collection loader of this system; systems without collections keep the default.
    virtual HRESULT CreateLoader(std::unique_ptr<IMusicLoader>* /*loader*/) { return E_NOTIMPL; }
};

}  // namespace platform::music
