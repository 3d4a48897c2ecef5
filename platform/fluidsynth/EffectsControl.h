#pragma once

#include <memory>

#include "platform/music/IKsControl.h"

namespace platform::fluidsynth {

class SynthCore;

// The port's property interface: GUID_DMUS_PROP_Effects (id 0) gets and sets reverb
// (bit 0) and chorus (bit 1) as a 4-byte value. Every other property is unknown.
class EffectsControl final : public music::IKsControl {
public:
    explicit EffectsControl(std::shared_ptr<SynthCore> core);

    music::HRESULT KsProperty(const music::KSPROPERTY* property, music::ULONG propertyLength,
                              void* data, music::ULONG dataLength,
                              music::ULONG* bytesReturned) override;

private:
    std::shared_ptr<SynthCore> core_;
};

}  // namespace platform::fluidsynth
