#include "platform/music/ThruRouter.h"

#include <algorithm>
#include <array>

#include "platform/music/IMusicPort.h"
#include "platform/music/ResultCodes.h"

namespace platform::music {

HRESULT ThruRouter::ThruChannel(DWORD sourceGroup, DWORD sourceChannel, DWORD destinationGroup,
                                DWORD destinationChannel, IMusicPort* destination) {
    if (sourceChannel > 15 || destinationChannel > 15)
        return E_INVALIDARG;
    std::shared_ptr<IMidiSink> sink;
    if (destination != nullptr) {
        const HRESULT hr = destination->QueryMidiSink(&sink);
        if (Failed(hr) || !sink)
            return DMUS_E_PORT_NOT_RENDER;
    }
    std::lock_guard lock(mutex_);
    const auto same = [&](const Route& r) {
        return r.sourceGroup == sourceGroup && r.sourceChannel == sourceChannel &&
               r.destinationGroup == destinationGroup && r.destinationChannel == destinationChannel;
    };
    std::erase_if(routes_, same);
    if (sink)
        routes_.push_back(
            {sourceGroup, sourceChannel, destinationGroup, destinationChannel, std::move(sink)});
    return S_OK;
}

void ThruRouter::Forward(DWORD sourceGroup, const BYTE* data, DWORD length) noexcept {
    if (data == nullptr || length == 0 || length > 3)
        return;
    const BYTE status = data[0];
    // Channel messages only: system messages are never forwarded.
    if (status < 0x80 || status >= 0xF0)
        return;
    std::array<BYTE, 3> out{};
    std::copy_n(data, length, out.begin());
    std::lock_guard lock(mutex_);
    for (const Route& route : routes_) {
        if (route.sourceGroup != sourceGroup || route.sourceChannel != DWORD(status & 0x0F))
            continue;
        out[0] = BYTE((status & 0xF0) | route.destinationChannel);
        route.sink->Send(route.destinationGroup, out.data(), length);
    }
}

std::size_t ThruRouter::Connections() const {
    std::lock_guard lock(mutex_);
    return routes_.size();
}

}  // namespace platform::music
