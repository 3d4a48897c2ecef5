#pragma once

#include "platform/music/Types.h"

namespace platform::music {

// Property access on a port (reverb and chorus here). A port without the property answers
// DMUS_E_UNKNOWN_PROPERTY.
class IKsControl {
public:
    virtual ~IKsControl() = default;
    virtual HRESULT KsProperty(const KSPROPERTY* property, ULONG propertyLength, void* data,
                               ULONG dataLength, ULONG* bytesReturned) = 0;
};

}  // namespace platform::music
