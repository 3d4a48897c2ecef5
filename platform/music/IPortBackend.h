#pragma once

#include <memory>
#include <vector>

#include "platform/music/ClockTypes.h"
#include "platform/music/IMusicPort.h"
#include "platform/music/Types.h"

namespace platform::music {

// One source of ports (the built-in synthesizer, external MIDI ports, ...). The music object
// lists the backends' ports in the order of its backend table.
class IPortBackend {
public:
    virtual ~IPortBackend() = default;

    // Appends the capabilities of the ports this backend offers now.
    virtual void ListPorts(std::vector<DMUS_PORTCAPS>& ports) = 0;
    // Opens one of this backend's ports; E_INVALIDARG for a GUID it does not know.
    virtual HRESULT CreatePort(const GUID& portGuid, DMUS_PORTPARAMS8* params,
                               std::unique_ptr<IMusicPort>* port) = 0;
    // Appends the master clocks this backend offers (none by default).
    virtual void ListClocks(std::vector<ClockEntry>& /*clocks*/) {}
};

}  // namespace platform::music
