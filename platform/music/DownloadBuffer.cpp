#include "platform/music/DownloadBuffer.h"

#include "platform/music/ResultCodes.h"

namespace platform::music {

HRESULT DownloadBuffer::GetBuffer(void** data, DWORD* size) {
    if (data == nullptr || size == nullptr)
        return E_POINTER;
    *data = bytes_.data();
    *size = static_cast<DWORD>(bytes_.size());
    return S_OK;
}

}  // namespace platform::music
