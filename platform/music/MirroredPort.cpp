#include "platform/music/MirroredPort.h"

namespace platform::music {

MirroredPort::MirroredPort(std::unique_ptr<IMusicPort> port, std::shared_ptr<IMidiSink> mirror)
    : port_(std::move(port)), mirror_(std::move(mirror)) {}

HRESULT MirroredPort::PlayBuffer(IMusicBuffer& buffer) {
    const HRESULT hr = port_->PlayBuffer(buffer);
    if (Failed(hr))
        return hr;
    if (Failed(buffer.ResetReadPtr()))
        return hr;
    DWORD group = 0;
    DWORD length = 0;
    const BYTE* data = nullptr;
    while (buffer.GetNextEvent(nullptr, &group, &length, &data) == S_OK)
        mirror_->Send(group, data, length);
    return hr;
}

}  // namespace platform::music
