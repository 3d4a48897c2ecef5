#pragma once

#include <memory>
#include <mutex>
#include <vector>

#include "platform/music/IMidiSink.h"
#include "platform/music/IMusicThru.h"

namespace platform::music {

// Thru connections of one input port, shared by every input realisation. ThruChannel runs on
// the GUI thread; Forward runs on the platform's input thread and hands each channel message
// straight to the destinations' sinks, remapped to their group and channel. The router's own
// mutex is held only while forwarding; no application lock is ever taken.
class ThruRouter final : public IMusicThru {
public:
    HRESULT ThruChannel(DWORD sourceGroup, DWORD sourceChannel, DWORD destinationGroup,
                        DWORD destinationChannel, IMusicPort* destination) override;

    // A message that arrived on `sourceGroup` (input ports have group 1).
    void Forward(DWORD sourceGroup, const BYTE* data, DWORD length) noexcept;
    std::size_t Connections() const;

private:
    struct Route {
        DWORD sourceGroup;
        DWORD sourceChannel;
        DWORD destinationGroup;
        DWORD destinationChannel;
        std::shared_ptr<IMidiSink> sink;
    };

    mutable std::mutex mutex_;
    std::vector<Route> routes_;
};

}  // namespace platform::music
