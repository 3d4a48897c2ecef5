#pragma once

#include <memory>

#include "platform/music/ClockTypes.h"
#include "platform/music/IMusicBuffer.h"
#include "platform/music/IMusicPort.h"
#include "platform/music/ResultCodes.h"
#include "platform/music/Types.h"

namespace platform::music {

// The music object: enumerates the ports of every backend, opens them and makes event
// buffers. Used on the GUI thread.
class IMusic {
public:
    virtual ~IMusic() = default;

    // Binds the music object to its owner window; a null sound object lets the music object
    // manage its own audio output.
    virtual HRESULT SetDirectSound(void* soundObject, WindowHandle window) = 0;
    // Capabilities of the index-th port of all classes; S_FALSE past the end. `caps->dwSize`
    // must be sizeof(DMUS_PORTCAPS).
    virtual HRESULT EnumPort(DWORD index, DMUS_PORTCAPS* caps) = 0;
    // Opens the port named by its GUID. The port may write granted values back to `params`.
    virtual HRESULT CreatePort(const GUID& portGuid, DMUS_PORTPARAMS8* params,
                               std::unique_ptr<IMusicPort>* port) = 0;
    virtual HRESULT CreateMusicBuffer(const DMUS_BUFFERDESC* desc,
                                      std::unique_ptr<IMusicBuffer>* buffer) = 0;

    // Master clocks. A music object without a choice of clocks answers E_NOTIMPL.
    // Description of the index-th clock; S_FALSE past the end. `info->dwSize` must be
    // sizeof(DMUS_CLOCKINFO8).
    virtual HRESULT EnumMasterClock(DWORD /*index*/, DMUS_CLOCKINFO8* /*info*/) {
        return E_NOTIMPL;
    }
    // Makes the clock named by `clockGuid` the master clock; E_INVALIDARG for an unknown one.
    virtual HRESULT SetMasterClock(const GUID& /*clockGuid*/) { return E_NOTIMPL; }
    // The master clock and its GUID (either pointer may be null).
    virtual HRESULT GetMasterClock(GUID* /*clockGuid*/,
                                   std::shared_ptr<IReferenceClock>* /*clock*/) {
        return E_NOTIMPL;
    }
};

}  // namespace platform::music
