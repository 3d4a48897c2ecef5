#pragma once

#include <memory>

#include "platform/music/IInstrument.h"
#include "platform/music/Types.h"

namespace platform::music {

// Downloads of a port that supports downloadable sounds (obtained with QueryPortDownload).
class IPortDownload {
public:
    virtual ~IPortDownload() = default;
    // Makes `instrument` answer its patch (SetPatch's, else its own) on this port for the
    // notes of the given ranges.
    virtual HRESULT DownloadInstrument(IInstrument& instrument,
                                       std::shared_ptr<IDownloadedInstrument>* downloaded,
                                       const DMUS_NOTERANGE* ranges, DWORD rangeCount) = 0;
    // Undoes a download: the patch answers what it answered before.
    virtual HRESULT UnloadInstrument(IDownloadedInstrument& downloaded) = 0;
};

}  // namespace platform::music
