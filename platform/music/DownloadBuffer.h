#pragma once

#include <vector>

#include "platform/music/IDownload.h"

namespace platform::music {

// A download buffer in ordinary memory, zero-filled.
class DownloadBuffer final : public IDownload {
public:
    explicit DownloadBuffer(DWORD size) : bytes_(size) {}
    HRESULT GetBuffer(void** data, DWORD* size) override;

private:
    std::vector<BYTE> bytes_;
};

}  // namespace platform::music
