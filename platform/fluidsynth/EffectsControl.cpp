#include "platform/fluidsynth/EffectsControl.h"

#include <cstring>

#include "platform/fluidsynth/SynthCore.h"
#include "platform/music/ResultCodes.h"

namespace platform::fluidsynth {

using music::DWORD;
using music::HRESULT;

EffectsControl::EffectsControl(std::shared_ptr<SynthCore> core) : core_(std::move(core)) {}

HRESULT EffectsControl::KsProperty(const music::KSPROPERTY* property, music::ULONG propertyLength,
                                   void* data, music::ULONG dataLength,
                                   music::ULONG* bytesReturned) {
    if (bytesReturned)
        *bytesReturned = 0;
    if (property == nullptr)
        return music::E_POINTER;
    if (propertyLength < sizeof(music::KSPROPERTY))
        return music::E_INVALIDARG;
    if (property->Set != music::GUID_DMUS_PROP_Effects || property->Id != 0)
        return music::DMUS_E_UNKNOWN_PROPERTY;
    if (data == nullptr)
        return music::E_POINTER;
    if (dataLength < sizeof(DWORD))
        return music::E_INVALIDARG;

    switch (property->Flags) {
        case music::KSPROPERTY_TYPE_SET: {
            DWORD effects = 0;
            std::memcpy(&effects, data, sizeof effects);
            core_->SetEffects(effects);
            return music::S_OK;
        }
        case music::KSPROPERTY_TYPE_GET: {
            const DWORD effects = core_->Effects();
            std::memcpy(data, &effects, sizeof effects);
            if (bytesReturned)
                *bytesReturned = sizeof effects;
            return music::S_OK;
        }
        default:
            return music::E_INVALIDARG;
    }
}

}  // namespace platform::fluidsynth
