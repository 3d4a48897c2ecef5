#pragma once

#include <memory>

#include "platform/music/IDownload.h"
#include "platform/music/IInstrument.h"
#include "platform/music/Types.h"

namespace platform::music {

// Sample-memory downloads: buffers are allocated, filled with download records
// (DownloadTypes.h), then downloaded and unloaded. Calls on one port do not overlap: the
// caller serialises them.
class ISampleDownload {
public:
    virtual ~ISampleDownload() = default;

    // A zero-filled buffer of `size` bytes; E_OUTOFMEMORY when the port cannot hold it.
    virtual HRESULT AllocateBuffer(DWORD size, std::shared_ptr<IDownload>* buffer) = 0;
    // Reserves `count` consecutive download ids; the first goes to `*start`.
    virtual HRESULT GetDLId(DWORD* start, DWORD count) = 0;
    // Sample frames the synthesizer needs after the end of every wave.
    virtual HRESULT GetAppend(DWORD* append) = 0;
    // Hands a filled buffer to the synthesizer; waves before the instruments that use them.
    virtual HRESULT Download(IDownload& buffer) = 0;
    // Takes a downloaded buffer back; DMUS_E_NOT_DOWNLOADED_TO_PORT when it is not there.
    virtual HRESULT Unload(IDownload& buffer) = 0;
};

// Instruments of collections made to answer a patch on the port.
class IInstrumentDownload {
public:
    virtual ~IInstrumentDownload() = default;

    // Makes `instrument` answer its patch (SetPatch's, else its own) on this port for the
    // notes of the given ranges.
    virtual HRESULT DownloadInstrument(IInstrument& instrument,
                                       std::shared_ptr<IDownloadedInstrument>* downloaded,
                                       const DMUS_NOTERANGE* ranges, DWORD rangeCount) = 0;
    // Undoes a download: the patch answers what it answered before.
    virtual HRESULT UnloadInstrument(IDownloadedInstrument& downloaded) = 0;
};

// What a port that supports downloadable sounds hands out (QueryPortDownload): both kinds.
class IPortDownload : public ISampleDownload, public IInstrumentDownload {};

}  // namespace platform::music
